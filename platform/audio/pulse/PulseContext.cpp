#include "PulseContext.h"

#include <pulse/pulseaudio.h>

namespace zorvik::platform::audio {

PulseContext::Lock::Lock(const PulseContext& context) : m_loop(context.m_loop) {
    pa_threaded_mainloop_lock(m_loop);
}

PulseContext::Lock::~Lock() {
    pa_threaded_mainloop_unlock(m_loop);
}

std::unique_ptr<PulseContext> PulseContext::Connect(const char* appName, std::chrono::milliseconds timeout) {
    std::unique_ptr<PulseContext> context(new PulseContext);
    if (!context->Start(appName, timeout)) {
        return nullptr;
    }
    return context;
}

bool PulseContext::Start(const char* appName, std::chrono::milliseconds timeout) {
    m_loop = pa_threaded_mainloop_new();
    if (m_loop == nullptr) {
        return false;
    }
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, appName);
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), appName, props);
    pa_proplist_free(props);
    if (m_context == nullptr) {
        return false;
    }
    pa_context_set_state_callback(m_context, &OnState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(m_loop) < 0) {
        return false;
    }
    Lock lock(*this);
    m_deadline = pa_context_rttime_new(
        m_context, pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * 1000,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
            auto* context = static_cast<PulseContext*>(self);
            context->m_timedOut = true;
            pa_threaded_mainloop_signal(context->m_loop, 0);
        },
        this);
    const bool ready = WaitUntil([this] { return pa_context_get_state(m_context) == PA_CONTEXT_READY; });
    m_alive = ready;
    return ready;
}

bool PulseContext::WaitUntil(const std::function<bool()>& done, const std::function<bool()>& failed) {
    for (;;) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) || m_timedOut || (failed && failed())) {
            return false;
        }
        if (done()) {
            return true;
        }
        pa_threaded_mainloop_wait(m_loop);
    }
}

void PulseContext::EndDeadline() {
    if (m_deadline != nullptr) {
        pa_threaded_mainloop_get_api(m_loop)->time_free(m_deadline);
        m_deadline = nullptr;
    }
}

PulseContext::~PulseContext() {
    if (m_loop == nullptr) {
        return;
    }
    {
        Lock lock(*this);
        EndDeadline();
        if (m_context != nullptr) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseContext::OnState(pa_context* context, void* self) {
    auto* owner = static_cast<PulseContext*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        owner->m_alive = false;
    }
    pa_threaded_mainloop_signal(owner->m_loop, 0);
}

}  // namespace zorvik::platform::audio
