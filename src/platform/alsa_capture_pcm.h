// ALSA's "default" capture PCM opened for the one format the recorder uses
// (8000 Hz, signed 16-bit little-endian, mono), and the repairs a capture
// stream needs after an overrun or a suspend.
#pragma once

#include "platform/alsa_library.h"
#include "platform/wave_in.h"

// The one rate the recorder captures at, in frames a second.
constexpr snd_pcm_uframes_t kCaptureRate = 8000;

// What the device granted, in frames.
struct CaptureRing {
    snd_pcm_uframes_t ring = 0;    // frames the device keeps before it overwrites them
    snd_pcm_uframes_t period = 0;  // frames between the device's interrupts
    // Frames waiting when the reader is to be woken: a reader of normal
    // priority, and one that runs at a real-time priority (which answers
    // within a millisecond however busy the system is, so it may leave
    // itself less time where the device tells exactly how full the ring is).
    // The stream's avail_min is `wake`, never more than `promptWake`.
    snd_pcm_uframes_t wake = 0;
    snd_pcm_uframes_t promptWake = 0;
};

// Loads ALSA if it is not yet (MMSYSERR_NODRIVER without it) and opens
// "default" for capture in non-blocking mode. The ring asked for is two
// seconds, but many boards grant far less (a quarter second is common); what
// was granted is read back into `granted`. The stream is set never to stop on
// an overrun, so that the reader always learns how far behind it fell, and to
// wake the reader as late as the ring allows (all of it but the time the
// reader leaves itself to answer, at most a second), with no wake-up per
// period where the device can leave it out. Leaves `pcm` prepared, not
// started. Returns MMSYSERR_NOERROR, or on failure (nothing left open):
// MMSYSERR_ALLOCATED (busy), MMSYSERR_NODRIVER (cannot be opened),
// WAVERR_BADFORMAT (will not take the format at exactly 8000 Hz),
// MMSYSERR_NOMEM or MMSYSERR_ERROR. Every call into ALSA after a successful
// open may go through theAlsa.
MMRESULT OpenCapturePcm(snd_pcm_t*& pcm, CaptureRing& granted);

// Closes what OpenCapturePcm opened.
void CloseCapturePcm(snd_pcm_t* pcm);

// Starts a prepared capture; preparing it first if a stop left it set up.
bool StartCapturePcm(snd_pcm_t* pcm);

// Frames waiting to be read, after skipping any the device has overwritten
// since they were captured: their number is added to `lost`. Negative: an
// error for RecoverCapturePcm.
snd_pcm_sframes_t ReadableFrames(snd_pcm_t* pcm, const CaptureRing& granted, unsigned long long& lost);

// Brings a capture back to running after a read failed with `error`
// (-EPIPE overrun of a device that stops anyway, -ESTRPIPE suspend, or
// anything else). Samples the device dropped meanwhile are lost. Returns
// false if the device cannot go on.
bool RecoverCapturePcm(snd_pcm_t* pcm, long error);
