// libasound, loaded when a recording opens the capture device rather than
// linked: the library then loads and converts on machines without ALSA (a
// server, a container), and only recording needs it.
#pragma once

#include <alsa/asoundlib.h>

namespace tolvane::platform {

// Every ALSA function the capture layer calls.
#define TOLVANE_ALSA_FUNCTIONS(X)                                                                               \
    X(snd_pcm_open) X(snd_pcm_close) X(snd_pcm_state) X(snd_pcm_prepare) X(snd_pcm_start) X(snd_pcm_drop)     \
    X(snd_pcm_resume) X(snd_pcm_avail) X(snd_pcm_avail_update) X(snd_pcm_forward) X(snd_pcm_readi)            \
    X(snd_pcm_poll_descriptors_count) X(snd_pcm_poll_descriptors) X(snd_pcm_poll_descriptors_revents)         \
    X(snd_pcm_hw_params_malloc) X(snd_pcm_hw_params_free) X(snd_pcm_hw_params_any)                            \
    X(snd_pcm_hw_params_set_rate_resample) X(snd_pcm_hw_params_set_access) X(snd_pcm_hw_params_set_format)    \
    X(snd_pcm_hw_params_set_channels) X(snd_pcm_hw_params_set_rate) X(snd_pcm_hw_params_set_buffer_time_near) \
    X(snd_pcm_hw_params_set_period_time_near) X(snd_pcm_hw_params) X(snd_pcm_hw_params_get_buffer_size)       \
    X(snd_pcm_hw_params_get_period_size) X(snd_pcm_hw_params_can_disable_period_wakeup) X(snd_pcm_hw_params_is_batch) \
    X(snd_pcm_hw_params_set_period_wakeup) X(snd_pcm_sw_params_malloc) X(snd_pcm_sw_params_free)               \
    X(snd_pcm_sw_params_current) X(snd_pcm_sw_params_get_boundary) X(snd_pcm_sw_params_set_stop_threshold)    \
    X(snd_pcm_sw_params_set_avail_min) X(snd_pcm_sw_params_set_period_event) X(snd_pcm_sw_params)

// The functions as found in libasound.so.2, each named as in ALSA's header.
struct AlsaLibrary {
#define TOLVANE_ALSA_POINTER(name) decltype(&::name) name = nullptr;
    TOLVANE_ALSA_FUNCTIONS(TOLVANE_ALSA_POINTER)
#undef TOLVANE_ALSA_POINTER
};

// Filled by LoadAlsaLibrary; read only once that has returned true.
extern AlsaLibrary theAlsa;

// Loads libasound.so.2 with every function above, once; it stays loaded, as
// its plug-ins and configuration cache expect. Returns false when it is not
// there or lacks one of them; a later call tries again. Thread-safe.
bool LoadAlsaLibrary();

}  // namespace tolvane::platform
