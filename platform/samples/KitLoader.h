#pragma once
// A kit made ready to play: every sample decoded and converted once to the mix format, off the GUI and
// the real-time threads, on all cores. What cannot be played is left out with a line saying why; a kit
// with nothing left to play is refused.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "KitFiles.h"
#include "NoteMap.h"
#include "SamplePlayer.h"
#include "VoiceMixer.h"
#include "WavDecoder.h"

namespace zorvik::platform::samples {

struct LoadedKit {
    // Only instruments, layers and samples that play are left in it, with notes assigned for them.
    kit::Kit kit;
    // clips[instrument][layer][sample], alongside kit.
    std::vector<std::vector<std::vector<ClipPtr>>> clips;
    kit::HiHats hiHats;
    bool soundsKit = false;
    std::size_t bytes = 0;  // of decoded audio
};

// Decodes the samples of an opened kit. In the kit of Sounds a sample that cannot be played plays the
// built-in default sound. Blocks for as long as that takes, or until `cancelled` turns true (then the
// kit is refused); any thread.
KitLoad LoadKit(kit::OpenedKit opened, const std::atomic<bool>& cancelled);
// Opens the kit at `path` (kit::OpenKit) and decodes it.
KitLoad LoadKitAt(const std::string& path, const std::atomic<bool>& cancelled);

// Decoded audio brought to the mix format, so the render callback only copies and adds.
ClipPtr ToMixFormat(DecodedWav&& wav);

}  // namespace zorvik::platform::samples
