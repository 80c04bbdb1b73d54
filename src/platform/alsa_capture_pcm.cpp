#include "platform/alsa_capture_pcm.h"

#include <cerrno>

namespace {

constexpr unsigned kCaptureRate = 8000;
constexpr unsigned kRingMicroseconds = 2'000'000;
constexpr unsigned kPeriodMicroseconds = 100'000;

struct HwParamsFree {
    void operator()(snd_pcm_hw_params_t* params) const noexcept { snd_pcm_hw_params_free(params); }
};

MMRESULT Configure(snd_pcm_t* pcm) {
    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0) return MMSYSERR_NOMEM;
    const std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree> params(raw);

    if (snd_pcm_hw_params_any(pcm, raw) < 0) return MMSYSERR_ERROR;
    // Let a plug layer resample if the device runs at another rate; a device
    // without one must offer 8000 Hz itself.
    snd_pcm_hw_params_set_rate_resample(pcm, raw, 1);
    if (snd_pcm_hw_params_set_access(pcm, raw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return MMSYSERR_ERROR;
    if (snd_pcm_hw_params_set_format(pcm, raw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, raw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, raw, kCaptureRate, 0) < 0) {
        return WAVERR_BADFORMAT;
    }
    unsigned ring = kRingMicroseconds;
    unsigned period = kPeriodMicroseconds;
    if (snd_pcm_hw_params_set_buffer_time_near(pcm, raw, &ring, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(pcm, raw, &period, nullptr) < 0 ||
        snd_pcm_hw_params(pcm, raw) < 0) {
        return MMSYSERR_ERROR;
    }
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT OpenCapturePcm(PcmHandle& pcm) {
    snd_pcm_t* raw = nullptr;
    const int opened = snd_pcm_open(&raw, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (opened < 0) return opened == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER;
    PcmHandle candidate(raw);
    const MMRESULT configured = Configure(raw);
    if (configured != MMSYSERR_NOERROR) return configured;
    pcm = std::move(candidate);
    return MMSYSERR_NOERROR;
}

bool StartCapturePcm(snd_pcm_t* pcm) {
    if (snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED && snd_pcm_prepare(pcm) < 0) return false;
    return snd_pcm_start(pcm) >= 0;
}

bool RecoverCapturePcm(snd_pcm_t* pcm, long error) {
    // A suspended device may resume where it was; otherwise, as after an
    // overrun, the stream is prepared and started afresh.
    if (error == -ESTRPIPE && snd_pcm_resume(pcm) == 0) return true;
    return snd_pcm_prepare(pcm) >= 0 && snd_pcm_start(pcm) >= 0;
}
