// ALSA's "default" capture PCM opened for the one format the recorder uses
// (8000 Hz, signed 16-bit little-endian, mono), and the repairs a capture
// stream needs after an overrun or a suspend.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>

#include "platform/wave_in.h"

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const noexcept { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Opens "default" for capture in non-blocking mode with a ring of about two
// seconds in periods of about 100 ms, so that capture goes on while a
// handed-back buffer waits to be queued again. Leaves `pcm` prepared, not
// started. Returns MMSYSERR_NOERROR, or on failure (nothing left open):
// MMSYSERR_ALLOCATED (busy), MMSYSERR_NODRIVER (cannot be opened),
// WAVERR_BADFORMAT (will not take the format at exactly 8000 Hz),
// MMSYSERR_NOMEM or MMSYSERR_ERROR.
MMRESULT OpenCapturePcm(PcmHandle& pcm);

// Starts a prepared capture; preparing it first if a stop left it set up.
bool StartCapturePcm(snd_pcm_t* pcm);

// Brings a capture back to running after a read failed with `error`
// (-EPIPE overrun, -ESTRPIPE suspend, or anything else). Samples the device
// dropped meanwhile are lost. Returns false if the device cannot go on.
bool RecoverCapturePcm(snd_pcm_t* pcm, long error);
