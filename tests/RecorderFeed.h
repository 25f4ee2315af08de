#pragma once

// A sound source for the recorder tests that delivers exactly the blocks a test hands it, when it
// hands them, so a test knows what a recording must contain.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AudioSource.h"

namespace zorvik::recorder::testing {

class Feed {
  public:
    void Push(std::vector<float> block) {
        const std::lock_guard lock(mutex_);
        blocks_.push_back(std::move(block));
        ready_.notify_all();
    }
    // Makes the next Read fail, once the blocks already pushed are delivered.
    void FailWith(std::string error) {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(error);
        ready_.notify_all();
    }
    // Makes the factory refuse to open, the way it does when there is no sound server.
    void RefuseToOpen(std::string error) { refusal_ = std::move(error); }

    SourceFactory Factory();

  private:
    friend class FeedSource;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<float>> blocks_;
    std::string failure_;
    std::string refusal_;
};

class FeedSource final : public AudioSource {
  public:
    explicit FeedSource(Feed& feed) : feed_(feed) {}

    bool Read(std::vector<float>& samples, std::string& error) override {
        std::unique_lock lock(feed_.mutex_);
        feed_.ready_.wait_for(lock, std::chrono::milliseconds(20),
                              [&] { return !feed_.blocks_.empty() || !feed_.failure_.empty(); });
        if (!feed_.blocks_.empty()) {
            samples.insert(samples.end(), feed_.blocks_.front().begin(), feed_.blocks_.front().end());
            feed_.blocks_.pop_front();
            return true;
        }
        if (!feed_.failure_.empty()) {
            error = feed_.failure_;
            return false;
        }
        return true;
    }

  private:
    Feed& feed_;
};

inline SourceFactory Feed::Factory() {
    // The tests keep the Feed alive for as long as any recorder uses it.
    return [this](const std::atomic<bool>&, std::string& error) -> std::unique_ptr<AudioSource> {
        if (!refusal_.empty()) {
            error = refusal_;
            return nullptr;
        }
        return std::make_unique<FeedSource>(*this);
    };
}

// `frames` stereo frames of a ramp, left and right different, so order and channel mix-ups show.
inline std::vector<float> Ramp(int frames, int start = 0) {
    std::vector<float> block;
    for (int i = 0; i < frames; ++i) {
        const float v = static_cast<float>((start + i) % 2000) / 4000.0f;
        block.push_back(v);
        block.push_back(-v);
    }
    return block;
}

inline std::vector<float> Constant(int frames, float level) {
    return std::vector<float>(static_cast<std::size_t>(frames) * kChannels, level);
}

}  // namespace zorvik::recorder::testing
