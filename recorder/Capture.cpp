#include "Capture.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace zorvik::recorder {

Capture::Capture(SourceFactory factory, std::int64_t longestFrames)
    : factory_(std::move(factory)), longestFrames_(longestFrames) {}

Capture::~Capture() {
    std::string ignored;
    Stop(ignored);
}

bool Capture::Start(const std::string& path, std::int64_t frameLimit, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "The recording cannot be written to " + path + " (" + std::strerror(errno) + ").";
        return false;
    }
    return Start(fd, path, frameLimit, error);
}

bool Capture::Start(int fd, const std::string& name, std::int64_t frameLimit, std::string& error) {
    if (CurrentState() != State::Idle) {
        ::close(fd);
        error = "A recording is already running.";
        return false;
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = kChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    // The descriptor stays ours, so that it is closed exactly once whatever libsndfile makes of it.
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
        ::close(fd);
        error = "The recording cannot be written to " + name + " (" + sf_strerror(nullptr) + ").";
        return false;
    }
    fd_ = fd;
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // Keeps the header true after every block, so a recording cut short by a crash or a kill still plays.
    sf_command(file_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);

    frameLimit_ = frameLimit;
    frames_.store(0);
    peak_.store(0.0f);
    stopRequested_.store(false);
    {
        const std::lock_guard lock(errorMutex_);
        error_.clear();
    }
    state_.store(State::Connecting, std::memory_order_release);
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool Capture::Stop(std::string& error) {
    if (file_ == nullptr) {
        return true;
    }
    stopRequested_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
    const int result = sf_close(file_);
    file_ = nullptr;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    state_.store(State::Idle, std::memory_order_release);
    if (result != 0 || !closed) {
        error = std::string("The recording could not be finished (") +
                (result != 0 ? sf_error_number(result) : std::strerror(errno)) + ").";
        return false;
    }
    return true;
}

std::string Capture::Error() const {
    const std::lock_guard lock(errorMutex_);
    return error_;
}

void Capture::Fail(std::string error) {
    {
        const std::lock_guard lock(errorMutex_);
        error_ = std::move(error);
    }
    state_.store(State::Failed, std::memory_order_release);
}

void Capture::Run() {
    std::string error;
    const std::unique_ptr<AudioSource> source = factory_(stopRequested_, error);
    if (source == nullptr) {
        // Stopped while connecting: an empty recording, not a failure.
        if (!stopRequested_.load()) {
            Fail(std::move(error));
        }
        return;
    }
    state_.store(State::Recording, std::memory_order_release);

    std::vector<float> block;
    while (!stopRequested_.load()) {
        block.clear();
        if (!source->Read(block, error)) {
            Fail(std::move(error));
            return;
        }
        const bool limited = frameLimit_ > 0 && frameLimit_ < longestFrames_;
        const sf_count_t room = (limited ? frameLimit_ : longestFrames_) - frames_.load();
        const sf_count_t count =
            std::min<sf_count_t>(static_cast<sf_count_t>(block.size() / kChannels), room);
        if (count == 0) {
            continue;
        }

        float peak = 0.0f;
        for (sf_count_t i = 0; i < count * kChannels; ++i) {
            peak = std::max(peak, std::fabs(block[i]));
        }
        // The GUI resets the peak as it reads it; keep the larger of ours and anything it has not read.
        float seen = peak_.load(std::memory_order_relaxed);
        while (peak > seen && !peak_.compare_exchange_weak(seen, peak, std::memory_order_relaxed)) {
        }

        if (sf_writef_float(file_, block.data(), count) != count) {
            Fail(std::string("Writing the recording failed (") + sf_strerror(file_) + ").");
            return;
        }
        frames_.fetch_add(count, std::memory_order_relaxed);
        if (count == room) {
            if (limited) {
                state_.store(State::Complete, std::memory_order_release);
            } else {
                Fail("The recording reached six hours, the most a WAV file can hold, and was stopped there.");
            }
            return;
        }
    }
}

}  // namespace zorvik::recorder
