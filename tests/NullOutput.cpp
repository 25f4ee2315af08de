#include "NullOutput.h"

#include <algorithm>

namespace zorvik::platform::audio {

NullOutput::NullOutput(const OutputFormat& format, RenderCallback render, const Options& options)
    : format_(format),
      render_(std::move(render)),
      options_(options),
      kept_(options.keepFrames * static_cast<std::size_t>(format.channels)),
      block_(options.blockFrames * static_cast<std::size_t>(format.channels)) {
    thread_ = std::thread(&NullOutput::Run, this);
}

NullOutput::~NullOutput() {
    stop_ = true;
    thread_.join();
}

std::chrono::microseconds NullOutput::Latency() const {
    return std::chrono::microseconds(static_cast<long long>(options_.blockFrames) * 1'000'000 / format_.rate);
}

void NullOutput::Run() {
    const auto channels = static_cast<std::size_t>(format_.channels);
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load(std::memory_order_relaxed)) {
        render_(block_.data(), options_.blockFrames);
        const std::size_t done = rendered_.load(std::memory_order_relaxed);
        if (done < options_.keepFrames) {
            const std::size_t n = std::min(options_.blockFrames, options_.keepFrames - done);
            std::copy_n(block_.begin(), n * channels,
                        kept_.begin() + static_cast<std::ptrdiff_t>(done * channels));
        }
        rendered_.store(done + options_.blockFrames, std::memory_order_release);
        if (options_.period.count() > 0) {
            next += options_.period;
            std::this_thread::sleep_until(next);
        } else {
            std::this_thread::yield();
        }
    }
}

std::vector<float> NullOutput::Kept() const {
    const std::size_t frames = std::min(Rendered(), options_.keepFrames);
    const auto channels = static_cast<std::size_t>(format_.channels);
    return std::vector<float>(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(frames * channels));
}

}  // namespace zorvik::platform::audio
