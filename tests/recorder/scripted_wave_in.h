// A scripted audio input that stands in for the real one in the recorder's
// tests. It implements the functions of platform/wave_in.h for one device at
// a time, with winmm's rules, and hands buffers back on a thread of its own
// when the test says so. Misuse that a real device would reject (a wrong
// descriptor size, unpreparing or closing while a buffer is queued, a stale
// handle) is counted as a protocol error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wave_in.h"

namespace scripted {

// Results the device's steps give; 0 lets the step succeed.
struct Failures {
    MMRESULT open = MMSYSERR_NOERROR;
    MMRESULT addBuffer = MMSYSERR_NOERROR;
    MMRESULT start = MMSYSERR_NOERROR;
};

struct Counters {
    int calls = 0;         // calls of any waveIn function
    int openAttempts = 0;
    int opens = 0;         // successful opens
    int closes = 0;        // successful closes
    int protocolErrors = 0;
    UINT deviceId = 0;     // as passed to the last open attempt
    DWORD openFlags = 0;
    WAVEFORMATEX format{};
};

// Bytes recorded in the buffer that waveInStop hands back.
constexpr DWORD kStopPartialBytes = 6000;

// Starts afresh with the given failures. No device may be open.
void Reset(Failures failures = {});
Counters Snapshot();
bool DeviceOpen();
// Closes a device that the code under test left open, so the next test
// starts clean.
void ForceClose();

// Fills the oldest queued buffer with the next full block of the known
// pattern and hands it back with WIM_DATA on the device's thread. Returns
// once the recorder has queued that buffer again (so what it does with a
// block is done) or the device stops; false when no buffer was queued on a
// running device.
bool DeliverBlock();
// The same, returning as soon as the handler has.
bool DeliverBlockNow();
// The same with only `bytes` recorded, of a filler that no block contains.
bool DeliverPartial(DWORD bytes);
// Calls the handler with `message` on the device's thread and waits for it.
bool Notify(UINT message);

// Block `serial` (counted from 0 per device) as DeliverBlock fills it.
void FillBlock(std::uint32_t serial, unsigned char* out, std::size_t bytes);

}  // namespace scripted
