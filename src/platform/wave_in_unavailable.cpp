// TEMPORARY placeholder for the waveform-audio input on systems without one
// of their own, until the ALSA implementation replaces it: no device can be
// opened, so SoundRecorderStart reports that no capture device was found.
#include "platform/wave_in.h"

MMRESULT waveInOpen(HWAVEIN*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD) { return MMSYSERR_NODRIVER; }
MMRESULT waveInPrepareHeader(HWAVEIN, LPWAVEHDR, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveInUnprepareHeader(HWAVEIN, LPWAVEHDR, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveInAddBuffer(HWAVEIN, LPWAVEHDR, UINT) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveInStart(HWAVEIN) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveInStop(HWAVEIN) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveInReset(HWAVEIN) { return MMSYSERR_INVALHANDLE; }
MMRESULT waveInClose(HWAVEIN) { return MMSYSERR_INVALHANDLE; }
