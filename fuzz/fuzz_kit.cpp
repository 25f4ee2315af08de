// libFuzzer targets: arbitrary bytes as a Hydrogen drumkit.xml (fuzz_kit_xml) or as a .h2drumkit archive
// (fuzz_kit_archive, built with ZORVIK_FUZZ_ARCHIVE). Every input must come back refused with a reason
// or as a kit that keeps the reader's promises: limits held, ranges and levels in range, sample names
// inside the kit, and a note map that agrees with itself.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "KitFiles.h"

using namespace zorvik::kit;

namespace {

bool LeavesTheKit(const std::string& name) {
    if (name.empty() || name[0] == '/') {
        return true;
    }
    for (std::size_t from = 0; from <= name.size();) {
        const std::size_t slash = std::min(name.find('/', from), name.size());
        if (name.compare(from, slash - from, "..") == 0 && slash - from == 2) {
            return true;
        }
        from = slash + 1;
    }
    return false;
}

void Check(const OpenedKit& opened) {
    if (!opened.error.empty()) {
        return;
    }
    const Kit& kit = opened.kit;
    if (kit.instruments.size() > kMaxInstruments) {
        __builtin_trap();
    }
    std::size_t samples = 0;
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        const Instrument& instrument = kit.instruments[i];
        if (instrument.layers.size() > kMaxLayers) {
            __builtin_trap();
        }
        for (const float level : {instrument.volume, instrument.panLeft, instrument.panRight}) {
            if (!std::isfinite(level) || level < 0.0f) {
                __builtin_trap();
            }
        }
        for (const Layer& layer : instrument.layers) {
            if (!(layer.min >= 0.0f && layer.max <= 1.0f && layer.min <= layer.max)) {
                __builtin_trap();
            }
            if (layer.samples.empty() || layer.samples.size() > kMaxSamplesPerLayer) {
                __builtin_trap();
            }
            for (const SampleRef& sample : layer.samples) {
                if (!std::isfinite(sample.gain) || sample.gain < 0.0f) {
                    __builtin_trap();
                }
                if (LeavesTheKit(sample.file)) {
                    __builtin_trap();
                }
                // Reading a name must stay inside the archive, whatever it is.
                if (opened.files) {
                    (void)opened.files->Read(sample.file);
                }
                ++samples;
            }
        }
        for (const std::uint8_t note : instrument.notes) {
            if (note >= kNotes || kit.byNote[note] != static_cast<int>(i)) {
                __builtin_trap();
            }
        }
    }
    if (samples > kMaxKitSamples) {
        __builtin_trap();
    }
    for (const int instrument : kit.byNote) {
        if (instrument >= static_cast<int>(kit.instruments.size())) {
            __builtin_trap();
        }
    }
    for (const int instrument : kit.rows) {
        if (instrument >= static_cast<int>(kit.instruments.size())) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef ZORVIK_FUZZ_ARCHIVE
    // The reader opens archives by path; a memory file gives these bytes one without touching the disk.
    static const int fd = memfd_create("kit.h2drumkit", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        __builtin_trap();
    }
    Check(OpenHydrogenArchive("/proc/self/fd/" + std::to_string(fd)));
#else
    Check(ParseHydrogenKit(std::string_view(reinterpret_cast<const char*>(data), size)));
#endif
    return 0;
}
