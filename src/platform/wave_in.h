// The waveform-audio input interface the recorder is written against. On
// Windows it is the system's own (winmm); elsewhere the same names, types and
// constants are provided by this project (over ALSA on Linux), so one
// recorder serves every platform.
#pragma once

#if defined(_WIN32)

#include <windows.h>
#include <mmsystem.h>

// The handler's signature for CALLBACK_FUNCTION. On 32-bit Windows winmm
// calls it with the stdcall convention, so the handler must be declared
// CALLBACK; converting it to this type checks that at compile time.
using WaveInProc = void(CALLBACK*)(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                   DWORD_PTR param2);

#else

// Only 32-bit Windows has a calling convention of its own for the handler.
#define CALLBACK

#include <stdint.h>

using UINT = unsigned int;
using WORD = uint16_t;
using DWORD = uint32_t;
using DWORD_PTR = uintptr_t;
using LPSTR = char*;
using MMRESULT = UINT;

struct WaveInDevice;  // the platform layer's own device record
using HWAVEIN = WaveInDevice*;

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

// The handler's signature for CALLBACK_FUNCTION.
using WaveInProc = void(CALLBACK*)(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr WORD WAVE_FORMAT_PCM = 1;

constexpr UINT WIM_OPEN = 0x3BE;
constexpr UINT WIM_CLOSE = 0x3BF;
constexpr UINT WIM_DATA = 0x3C0;

constexpr DWORD WHDR_DONE = 0x00000001;
constexpr DWORD WHDR_PREPARED = 0x00000002;
constexpr DWORD WHDR_INQUEUE = 0x00000010;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Semantics follow winmm: Open calls `callback` (a WaveInProc) with WIM_OPEN
// and later WIM_DATA / WIM_CLOSE on the layer's own capture thread; AddBuffer
// queues a prepared header; Start/Stop run and pause capture (Stop hands back
// the buffer being filled, partly filled, with WIM_DATA); Reset stops and
// hands back every queued buffer; Close fails with WAVERR_STILLPLAYING while
// buffers are queued, and once it succeeds no further handler call happens.
MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
MMRESULT waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT headerSize);
MMRESULT waveInStart(HWAVEIN device);
MMRESULT waveInStop(HWAVEIN device);
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInClose(HWAVEIN device);

#endif
