#pragma once
// One connection to the default PulseAudio server (or PipeWire's PulseAudio service) on a threaded
// main loop of its own. Never starts a server: with none running, a drum hit must fail at once, not
// launch a daemon. Connecting and everything waited on after it share one deadline, so a server that
// accepts the socket and then says nothing cannot hold the caller longer than that.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

struct pa_context;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace zorvik::platform::audio {

class PulseContext {
  public:
    // Connected and ready, or nullptr when no server answers within `timeout`. The deadline stays
    // armed for WaitUntil() until EndDeadline().
    static std::unique_ptr<PulseContext> Connect(const char* appName, std::chrono::milliseconds timeout);
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    pa_threaded_mainloop* Loop() const { return loop_; }
    pa_context* Context() const { return context_; }

    // With the loop locked: waits until `done()` holds; false when the connection failed, the deadline
    // passed or `failed()` holds first. Callbacks that change what they read signal the loop.
    bool WaitUntil(const std::function<bool()>& done, const std::function<bool()>& failed = {});
    // With the loop locked: the connection no longer bounds later waits.
    void EndDeadline();

    // False once the server has gone or dropped the connection.
    bool Alive() const { return alive_.load(std::memory_order_relaxed); }

    // Holds the loop's lock for a scope; the loop's own callbacks already run with it held.
    class Lock {
      public:
        explicit Lock(const PulseContext& context);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

  private:
    PulseContext() = default;
    bool Start(const char* appName, std::chrono::milliseconds timeout);
    static void OnState(pa_context* context, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* deadline_ = nullptr;  // guarded by the loop's lock
    bool timedOut_ = false;              // guarded by the loop's lock
    std::atomic<bool> alive_{false};
};

}  // namespace zorvik::platform::audio
