#pragma once
// An output with no device behind it, for tests: a thread of its own pulls blocks from the render
// callback and keeps the first frames in memory, so a test can check what would have been heard while
// the caller goes on from another thread, as with a real device.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

#include "AudioOutput.h"

namespace zorvik::platform::audio {

class NullOutput final : public AudioOutput {
  public:
    struct Options {
        std::size_t blockFrames = 64;
        // Frames kept; rendering goes on past them, unrecorded.
        std::size_t keepFrames = 48000 * 4;
        // The time between blocks; zero renders as fast as the thread runs.
        std::chrono::microseconds period{0};
    };

    NullOutput(const OutputFormat& format, RenderCallback render, const Options& options);
    ~NullOutput() override;
    NullOutput(const NullOutput&) = delete;
    NullOutput& operator=(const NullOutput&) = delete;

    bool Alive() const override { return alive_.load(std::memory_order_relaxed); }
    const char* Name() const override { return "null"; }
    std::chrono::microseconds Latency() const override;

    // Makes the output die, as a device does when its server goes.
    void Kill() { alive_ = false; }
    // Frames rendered so far, kept or not.
    std::size_t Rendered() const { return rendered_.load(std::memory_order_acquire); }
    // The kept samples rendered so far (interleaved); safe while rendering goes on.
    std::vector<float> Kept() const;

  private:
    void Run();

    const OutputFormat format_;
    const RenderCallback render_;
    const Options options_;
    std::vector<float> kept_;   // sized up front; written only by the render thread
    std::vector<float> block_;  // likewise
    std::atomic<std::size_t> rendered_{0};
    std::atomic<bool> alive_{true};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace zorvik::platform::audio
