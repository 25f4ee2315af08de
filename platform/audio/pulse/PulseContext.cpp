#include "PulseContext.h"

#include <pulse/pulseaudio.h>

#include "Identity.h"

namespace zorvik::platform::audio {

PulseContext::Lock::Lock(const PulseContext& context) : loop_(context.loop_) {
    pa_threaded_mainloop_lock(loop_);
}

PulseContext::Lock::~Lock() {
    pa_threaded_mainloop_unlock(loop_);
}

std::unique_ptr<PulseContext> PulseContext::Connect(const char* appName, std::chrono::milliseconds timeout) {
    std::unique_ptr<PulseContext> context(new PulseContext);
    if (!context->Start(appName, timeout)) {
        return nullptr;
    }
    return context;
}

bool PulseContext::Start(const char* appName, std::chrono::milliseconds timeout) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        return false;
    }
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, appName);
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, kAppId);
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, kAppId);
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), appName, props);
    pa_proplist_free(props);
    if (context_ == nullptr) {
        return false;
    }
    pa_context_set_state_callback(context_, &OnState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        return false;
    }
    Lock lock(*this);
    deadline_ = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * 1000,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
            auto* context = static_cast<PulseContext*>(self);
            context->timedOut_ = true;
            pa_threaded_mainloop_signal(context->loop_, 0);
        },
        this);
    const bool ready = WaitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
    alive_ = ready;
    return ready;
}

bool PulseContext::WaitUntil(const std::function<bool()>& done, const std::function<bool()>& failed) {
    for (;;) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || timedOut_ || (failed && failed())) {
            return false;
        }
        if (done()) {
            return true;
        }
        pa_threaded_mainloop_wait(loop_);
    }
}

void PulseContext::EndDeadline() {
    if (deadline_ != nullptr) {
        pa_threaded_mainloop_get_api(loop_)->time_free(deadline_);
        deadline_ = nullptr;
    }
}

PulseContext::~PulseContext() {
    if (loop_ == nullptr) {
        return;
    }
    {
        Lock lock(*this);
        EndDeadline();
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseContext::OnState(pa_context* context, void* self) {
    auto* owner = static_cast<PulseContext*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        owner->alive_ = false;
    }
    pa_threaded_mainloop_signal(owner->loop_, 0);
}

}  // namespace zorvik::platform::audio
