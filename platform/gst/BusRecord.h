#pragma once
// What a pipeline's bus reported: the first error, a missing decoder, a file recognised as text, and a
// count of news that wakes the loader. Recorded by a sync handler, so no main loop is needed.

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace zorvik::platform::gst {

struct StreamError {
    GQuark domain = 0;
    int code = 0;
    bool fromSink = false;
    std::string message;
};

// What the bus reported, written from GStreamer's threads and read on the caller's. Every message is
// dropped after a look, so nothing queues up on the bus however long a session runs.
class BusRecord {
  public:
    void BeginLoad() {
        std::lock_guard lock(mutex_);
        error_.reset();
        missingDecoder_.clear();
        missingType_.clear();
        textFile_ = false;
    }

    // Runs on whichever thread posted the message: keep it short and never call back into the engine.
    void Note(GstMessage* message);

    // Called, on the thread that posted it, when the pipeline has played a segment seek's segment to its
    // end. Set before the record is attached.
    std::function<void()> onSegmentDone;

    std::uint64_t News() const {
        std::lock_guard lock(mutex_);
        return news_;
    }

    void WaitForNews(std::uint64_t seen, std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until, [&] { return news_ != seen; });
    }

    std::optional<StreamError> Error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

    std::string MissingDecoder() const {
        std::lock_guard lock(mutex_);
        return missingDecoder_;
    }

    // The media type the missing decoder was wanted for ("audio/x-gbs"), or empty.
    std::string MissingType() const {
        std::lock_guard lock(mutex_);
        return missingType_;
    }

    bool TextFile() const {
        std::lock_guard lock(mutex_);
        return textFile_;
    }

    // The bus's sync handler; `data` is a heap-held std::shared_ptr<BusRecord>, freed by release().
    static GstBusSyncReply OnMessage(GstBus*, GstMessage* message, gpointer data);
    static void Release(gpointer data);

  private:
    // The media type a missing-plug-in message is about, or empty.
    static std::string MediaType(GstMessage* message);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t news_ = 0;
    std::optional<StreamError> error_;
    std::string missingDecoder_;
    std::string missingType_;
    bool textFile_ = false;
};

// Hooks a fresh record up to the pipeline's bus, and unhooks it again (before the pipeline is dropped).
void AttachBusRecord(GstElement* pipeline, const std::shared_ptr<BusRecord>& record);
void DetachBus(GstElement* pipeline);

}  // namespace zorvik::platform::gst
