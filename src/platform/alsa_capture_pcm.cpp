#include "platform/alsa_capture_pcm.h"

#include <errno.h>

using tolvane::platform::theAlsa;

namespace {

constexpr unsigned kRingMicroseconds = 2'000'000;
constexpr unsigned kPeriodMicroseconds = 100'000;
// The reader is woken at most once a second: the recorder only wants whole
// seconds, and each wake-up costs a handheld's battery.
constexpr snd_pcm_uframes_t kWakeFramesMost = kCaptureRate;
// What the ring keeps free when the reader is woken, in which it must get to
// run before the device overwrites anything: one period, but no less than
// this. A thread of normal priority on a busy system is often kept waiting
// for more than 50 ms (a common period), and then sound would be lost.
constexpr snd_pcm_uframes_t kAnswerFramesLeast = kCaptureRate / 10;
// The same for a reader at a real-time priority, which runs within a
// millisecond of its timer even on a loaded system: ten times that. Only
// where the device's position is exact: a device that moves it a period at
// a time ("batch") can show a period less than it holds, and a reader timed
// by it could wake up to a period late.
constexpr snd_pcm_uframes_t kPromptAnswerFrames = kCaptureRate / 100;

// The level at which a reader that leaves itself `answer` frames is woken:
// all of the ring but that, at least one period, at most a second.
snd_pcm_uframes_t WakeLevel(const CaptureRing& granted, snd_pcm_uframes_t answer) {
    const snd_pcm_uframes_t wake = granted.ring > answer + granted.period ? granted.ring - answer : granted.period;
    return wake < kWakeFramesMost ? wake : kWakeFramesMost;
}

MMRESULT ConfigureHardware(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, CaptureRing& granted, bool& exactPosition) {
    if (theAlsa.snd_pcm_hw_params_any(pcm, params) < 0) return MMSYSERR_ERROR;
    // Let a plug layer resample if the device runs at another rate; a device
    // without one must offer 8000 Hz itself.
    theAlsa.snd_pcm_hw_params_set_rate_resample(pcm, params, 1);
    if (theAlsa.snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return MMSYSERR_ERROR;
    if (theAlsa.snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE) < 0 ||
        theAlsa.snd_pcm_hw_params_set_channels(pcm, params, 1) < 0 ||
        theAlsa.snd_pcm_hw_params_set_rate(pcm, params, static_cast<unsigned>(kCaptureRate), 0) < 0) {
        return WAVERR_BADFORMAT;
    }
    // Wishes, not demands: a device with a fixed ring or fixed periods is
    // taken with what it has.
    unsigned ring = kRingMicroseconds;
    unsigned period = kPeriodMicroseconds;
    theAlsa.snd_pcm_hw_params_set_buffer_time_near(pcm, params, &ring, nullptr);
    theAlsa.snd_pcm_hw_params_set_period_time_near(pcm, params, &period, nullptr);
    // The reader sleeps on a timer until its level is due (it asks the
    // device how far it is before it sleeps, and reads when it wakes), so an
    // interrupt every period would only wake the processor for nothing.
    if (theAlsa.snd_pcm_hw_params_can_disable_period_wakeup(params) == 1) {
        theAlsa.snd_pcm_hw_params_set_period_wakeup(pcm, params, 0);
    }
    if (theAlsa.snd_pcm_hw_params(pcm, params) < 0 || theAlsa.snd_pcm_hw_params_get_buffer_size(params, &granted.ring) < 0 ||
        theAlsa.snd_pcm_hw_params_get_period_size(params, &granted.period, nullptr) < 0 || granted.ring == 0 ||
        granted.period == 0) {
        return MMSYSERR_ERROR;
    }
    exactPosition = theAlsa.snd_pcm_hw_params_is_batch(params) == 0;
    return MMSYSERR_NOERROR;
}

MMRESULT ConfigureSoftware(snd_pcm_t* pcm, snd_pcm_sw_params_t* params, CaptureRing& granted, bool exactPosition) {
    snd_pcm_uframes_t boundary = 0;
    // As late as the ring allows: when all of it is full but the time to
    // answer.
    const snd_pcm_uframes_t answer = granted.period > kAnswerFramesLeast ? granted.period : kAnswerFramesLeast;
    const snd_pcm_uframes_t wake = WakeLevel(granted, answer);
    const snd_pcm_uframes_t promptWake = exactPosition ? WakeLevel(granted, kPromptAnswerFrames) : wake;
    // A stop threshold at the boundary: an overrun never stops the stream,
    // the device goes on overwriting its ring, and how far the reader fell
    // behind tells how much it lost.
    if (theAlsa.snd_pcm_sw_params_current(pcm, params) < 0 || theAlsa.snd_pcm_sw_params_get_boundary(params, &boundary) < 0 ||
        theAlsa.snd_pcm_sw_params_set_stop_threshold(pcm, params, boundary) < 0 ||
        theAlsa.snd_pcm_sw_params_set_avail_min(pcm, params, wake) < 0) {
        return MMSYSERR_ERROR;
    }
    // No wake-up at each period either, where the device would give one; a
    // device that cannot leave it out is taken as it is.
    theAlsa.snd_pcm_sw_params_set_period_event(pcm, params, 0);
    if (theAlsa.snd_pcm_sw_params(pcm, params) < 0) return MMSYSERR_ERROR;
    granted.wake = wake;
    granted.promptWake = promptWake < wake ? wake : promptWake;
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT OpenCapturePcm(snd_pcm_t*& pcm, CaptureRing& granted) {
    if (!tolvane::platform::LoadAlsaLibrary()) return MMSYSERR_NODRIVER;
    snd_pcm_t* opened = nullptr;
    const int result = theAlsa.snd_pcm_open(&opened, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (result < 0) return result == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER;
    snd_pcm_hw_params_t* hardware = nullptr;
    snd_pcm_sw_params_t* software = nullptr;
    MMRESULT configured = MMSYSERR_NOMEM;
    if (theAlsa.snd_pcm_hw_params_malloc(&hardware) >= 0 && theAlsa.snd_pcm_sw_params_malloc(&software) >= 0) {
        bool exactPosition = false;
        configured = ConfigureHardware(opened, hardware, granted, exactPosition);
        if (configured == MMSYSERR_NOERROR) configured = ConfigureSoftware(opened, software, granted, exactPosition);
    }
    if (hardware != nullptr) theAlsa.snd_pcm_hw_params_free(hardware);
    if (software != nullptr) theAlsa.snd_pcm_sw_params_free(software);
    if (configured != MMSYSERR_NOERROR) {
        theAlsa.snd_pcm_close(opened);
        return configured;
    }
    pcm = opened;
    return MMSYSERR_NOERROR;
}

void CloseCapturePcm(snd_pcm_t* pcm) { theAlsa.snd_pcm_close(pcm); }

bool StartCapturePcm(snd_pcm_t* pcm) {
    if (theAlsa.snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED && theAlsa.snd_pcm_prepare(pcm) < 0) return false;
    return theAlsa.snd_pcm_start(pcm) >= 0;
}

snd_pcm_sframes_t ReadableFrames(snd_pcm_t* pcm, const CaptureRing& granted, unsigned long long& lost) {
    const snd_pcm_sframes_t avail = theAlsa.snd_pcm_avail_update(pcm);
    if (avail < 0 || static_cast<snd_pcm_uframes_t>(avail) <= granted.ring) return avail;
    // More waits than the ring holds: the oldest were overwritten. They are
    // skipped, with one period more, which the device may overwrite while
    // the rest is read; what is left is read whole, in order.
    const snd_pcm_sframes_t overwritten = avail - static_cast<snd_pcm_sframes_t>(granted.ring);
    snd_pcm_uframes_t skip = static_cast<snd_pcm_uframes_t>(overwritten) + granted.period;
    if (skip > static_cast<snd_pcm_uframes_t>(avail)) skip = static_cast<snd_pcm_uframes_t>(avail);
    const snd_pcm_sframes_t skipped = theAlsa.snd_pcm_forward(pcm, skip);
    if (skipped < 0) return skipped;
    lost += static_cast<unsigned long long>(skipped);
    return avail - skipped;
}

bool RecoverCapturePcm(snd_pcm_t* pcm, long error) {
    // A suspended device may resume where it was; otherwise, as after an
    // overrun of a device that stops for it, the stream is prepared and
    // started afresh.
    if (error == -ESTRPIPE && theAlsa.snd_pcm_resume(pcm) == 0) return true;
    return theAlsa.snd_pcm_prepare(pcm) >= 0 && theAlsa.snd_pcm_start(pcm) >= 0;
}
