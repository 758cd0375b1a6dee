// Asks a PulseAudio server whether it has a sink, before SDL's audio starts
// on it. SDL 2.26's PulseAudio driver copies the server's default sink name
// at start without checking that there is one, and crashes on a server that
// has none: just what a server looks like in the seconds after its last
// sink went away, when the audio device is being opened again.
//
// libpulse is loaded at run time, as SDL loads it, so a system without
// PulseAudio needs nothing. The question never starts a server and never
// waits long: an answer it cannot get counts as "no, not known to lack one",
// and SDL goes on as it would have.
#include "platform/platform_internal.h"

#if __has_include(<pulse/pulseaudio.h>)
#include <dlfcn.h>
#include <pulse/pulseaudio.h>

namespace
{

// The libpulse calls the question needs.
struct Pulse {
    decltype(&pa_mainloop_new) mainloop_new;
    decltype(&pa_mainloop_get_api) mainloop_get_api;
    decltype(&pa_mainloop_prepare) mainloop_prepare;
    decltype(&pa_mainloop_poll) mainloop_poll;
    decltype(&pa_mainloop_dispatch) mainloop_dispatch;
    decltype(&pa_mainloop_free) mainloop_free;
    decltype(&pa_context_new) context_new;
    decltype(&pa_context_connect) context_connect;
    decltype(&pa_context_get_state) context_get_state;
    decltype(&pa_context_get_server_info) context_get_server_info;
    decltype(&pa_context_disconnect) context_disconnect;
    decltype(&pa_context_unref) context_unref;
    decltype(&pa_operation_unref) operation_unref;
};

template <typename F> bool resolve(void* library, const char* name, F* function)
{
    *function = reinterpret_cast<F>(dlsym(library, name));
    return *function != nullptr;
}

// The library's calls, or null where there is no libpulse.
const Pulse* load_pulse()
{
    static Pulse pulse;
    static int loaded = -1;
    if (loaded >= 0)
        return loaded ? &pulse : nullptr;
    loaded = 0;
    void* library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    bool all = resolve(library, "pa_mainloop_new", &pulse.mainloop_new) &&
               resolve(library, "pa_mainloop_get_api", &pulse.mainloop_get_api) &&
               resolve(library, "pa_mainloop_prepare", &pulse.mainloop_prepare) &&
               resolve(library, "pa_mainloop_poll", &pulse.mainloop_poll) &&
               resolve(library, "pa_mainloop_dispatch", &pulse.mainloop_dispatch) &&
               resolve(library, "pa_mainloop_free", &pulse.mainloop_free) &&
               resolve(library, "pa_context_new", &pulse.context_new) &&
               resolve(library, "pa_context_connect", &pulse.context_connect) &&
               resolve(library, "pa_context_get_state", &pulse.context_get_state) &&
               resolve(library, "pa_context_get_server_info", &pulse.context_get_server_info) &&
               resolve(library, "pa_context_disconnect", &pulse.context_disconnect) &&
               resolve(library, "pa_context_unref", &pulse.context_unref) &&
               resolve(library, "pa_operation_unref", &pulse.operation_unref);
    // The library stays loaded: SDL uses it too.
    loaded = all ? 1 : 0;
    return all ? &pulse : nullptr;
}

struct Answer {
    bool given = false;
    bool lacks_sink = false;
};

void server_info(pa_context*, const pa_server_info* info, void* data)
{
    auto* answer = static_cast<Answer*>(data);
    answer->given = info != nullptr;
    answer->lacks_sink = info && (!info->default_sink_name || !info->default_sink_name[0]);
}

} // namespace

bool sys_pulse_lacks_sink()
{
    const Pulse* pa = load_pulse();
    if (!pa)
        return false;
    pa_mainloop* loop = pa->mainloop_new();
    if (!loop)
        return false;
    Answer answer;
    pa_context* context = pa->context_new(pa->mainloop_get_api(loop), "storm");
    if (context && pa->context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        pa_operation* asked = nullptr;
        // At most a quarter of a second: a local server answers in a few
        // milliseconds, one that is gone refuses the connection at once.
        for (int round = 0; round < 25 && !answer.given; ++round) {
            pa_context_state_t state = pa->context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && !asked) {
                asked = pa->context_get_server_info(context, server_info, &answer);
                if (!asked)
                    break;
            }
            if (pa->mainloop_prepare(loop, 10000) < 0 || pa->mainloop_poll(loop) < 0 ||
                pa->mainloop_dispatch(loop) < 0)
                break;
        }
        if (asked)
            pa->operation_unref(asked);
        pa->context_disconnect(context);
    }
    if (context)
        pa->context_unref(context);
    pa->mainloop_free(loop);
    return answer.given && answer.lacks_sink;
}

#else

bool sys_pulse_lacks_sink()
{
    return false;
}

#endif
