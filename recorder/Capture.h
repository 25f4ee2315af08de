#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "AudioSource.h"

typedef struct sf_private_tag SNDFILE;

namespace zorvik::recorder {

// One recording at a time into a WAV file. The capture thread owns the source and the writing; the
// owner (the window, or the command-line mode) only polls the atomics below, so nothing here ever calls
// back into the GUI.
class Capture {
  public:
    enum class State {
        Idle,        // nothing started, or stopped
        Connecting,  // waiting for the source
        Recording,
        Complete,  // the frame limit was reached; Stop() closes the file
        Failed,    // see Error(); Stop() closes the file with whatever was recorded
    };

    // A WAV file's sizes are 32-bit: past about 6 hours 12 minutes of 48 kHz stereo 16-bit it cannot
    // be played. A recording stops at six hours, with a message, rather than break the file.
    static constexpr std::int64_t kLongestFrames = std::int64_t{kRate} * 3600 * 6;

    explicit Capture(SourceFactory factory, std::int64_t longestFrames = kLongestFrames);
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture();

    // Starts recording into the file open for writing at `fd`, which it takes over (and closes at Stop,
    // or at once if it cannot start), ending by itself after `frameLimit` frames if that is non-zero.
    // `name` is the file's, for messages. False, with the reason in `error`, if it cannot write there.
    bool Start(int fd, const std::string& name, std::int64_t frameLimit, std::string& error);
    // The same into `path`, created or replaced.
    bool Start(const std::string& path, std::int64_t frameLimit, std::string& error);

    // Ends the recording and closes the file. False, with the reason in `error`, if the file could not
    // be finished; the frames already on disk stay there either way.
    bool Stop(std::string& error);

    State CurrentState() const { return state_.load(std::memory_order_acquire); }
    std::int64_t Frames() const { return frames_.load(std::memory_order_relaxed); }
    // The highest absolute sample since the last call, 0..1 (more if the source clips).
    float TakePeak() { return peak_.exchange(0.0f, std::memory_order_relaxed); }
    // Why the recording failed; empty unless state() is Failed.
    std::string Error() const;

  private:
    void Run();
    void Fail(std::string error);

    SourceFactory factory_;
    const std::int64_t longestFrames_;
    SNDFILE* file_ = nullptr;
    int fd_ = -1;
    std::int64_t frameLimit_ = 0;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<State> state_{State::Idle};
    std::atomic<std::int64_t> frames_{0};
    std::atomic<float> peak_{0.0f};
    mutable std::mutex errorMutex_;
    std::string error_;
};

}  // namespace zorvik::recorder
