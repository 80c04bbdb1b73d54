// The waveform-audio input functions over ALSA.
//
// One device is open at a time (another waveInOpen meanwhile returns
// MMSYSERR_ALLOCATED, as a busy device does), with one capture thread. It
// alone touches the PCM and calls the handler: WIM_OPEN first, WIM_DATA
// whenever the first queued buffer is full (or is handed back by Stop or
// Reset), WIM_CLOSE last. It sleeps in poll() on the PCM and on a wake-up
// eventfd, and reads only while capturing with a buffer queued; otherwise
// the samples wait in the device's ring, as long as it lasts. The stream
// never stops on an overrun: after one, what the ring still holds is read
// and only what was overwritten is skipped.
//
// Start, Stop, Reset and Close are handed to the capture thread and return
// once it has carried them out, including the WIM_DATA calls they cause (so
// after Stop the partly filled buffer has been delivered, after Reset every
// buffer has). They wait for a handler call in progress to end, so the
// caller must not hold anything the handler waits for. From within the
// handler they are not supported (winmm forbids them there too) and return
// MMSYSERR_ERROR; AddBuffer, PrepareHeader and UnprepareHeader may be called
// from the handler. The handler is called without the device's lock held.
#include "platform/wave_in.h"

#include <errno.h>
#include <poll.h>
#include <sched.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/alsa_capture_pcm.h"
#include "platform/threads.h"

using tolvane::platform::theAlsa;
using Guard = tolvane::platform::MutexGuard;

// The PCM's own poll descriptors that a device may have: a hardware device
// has one, plug-ins a few.
constexpr int kMostPcmDescriptors = 15;

// One device at a time, as the recorder records one file at a time: its
// record is static, so that opening one allocates nothing. Every member has
// a constant initial value.
struct WaveInDevice {
    // Requests from the host that the capture thread carries out.
    enum class Command { kNone, kStart, kStop, kReset, kClose };

    snd_pcm_t* pcm = nullptr;
    CaptureRing granted;  // the ring and period the device gave
    // Frames waiting when the capture thread is woken: granted.wake, or
    // granted.promptWake once it runs at a real-time priority. Capture thread only.
    snd_pcm_uframes_t wakeLevel = 0;
    // Frames the device overwrote before they were read (the reader fell a
    // whole ring behind); they are skipped, never filled in. Capture thread only.
    unsigned long long framesLost = 0;
    int wake = -1;  // an eventfd that the host signals to wake the capture thread out of poll()
    WaveInProc handler = nullptr;
    DWORD_PTR instance = 0;
    tolvane::platform::Thread capture;
    // Capture thread only: the wake-up, then the PCM's `pcmDescriptors`.
    pollfd pollFds[1 + kMostPcmDescriptors]{};
    int pcmDescriptors = 0;

    tolvane::platform::Mutex commandSerial;  // one host request at a time
    tolvane::platform::Mutex mutex;          // guards what follows and the flags and links of queued headers
    tolvane::platform::Condition commandDone;
    Command command = Command::kNone;
    MMRESULT commandResult = MMSYSERR_NOERROR;
    WAVEHDR* queueHead = nullptr;  // the buffer being filled; linked through lpNext
    WAVEHDR* queueTail = nullptr;
};

namespace {

using Command = WaveInDevice::Command;

WaveInDevice theDevice;
// Guards `deviceOpen`: from a successful waveInOpen to its waveInClose.
tolvane::platform::Mutex deviceOpening;
bool deviceOpen = false;

// Counter writes only fail when it would overflow, and then it is readable
// anyway: the wake-up is not lost.
void SignalWake(int wake) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake, &one, sizeof one);
}

void ClearWake(int wake) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(wake, &count, sizeof count);
}

constexpr DWORD kFrameBytes = 2;  // one 16-bit mono sample

// The members a caller fills end where the device's own (lpNext, reserved)
// begin: 32 bytes on a 64-bit system, as the whole header is on a 32-bit
// one, so callers passing the classic size 32 are accepted as well.
constexpr UINT kCallerHeaderBytes = offsetof(WAVEHDR, lpNext);

bool IsCaptureFormat(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels == 1 && format.nSamplesPerSec == 8000 &&
           format.wBitsPerSample == 16 && format.nBlockAlign == kFrameBytes &&
           format.nAvgBytesPerSec == 8000 * kFrameBytes;
}

MMRESULT CheckHeader(const WaveInDevice* device, const WAVEHDR* header, UINT headerSize) {
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || headerSize < kCallerHeaderBytes || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

void Notify(WaveInDevice* device, UINT message, WAVEHDR* header = nullptr) {
    if (device->handler != nullptr) {
        device->handler(device, message, device->instance, reinterpret_cast<DWORD_PTR>(header), 0);
    }
}

WAVEHDR* FirstQueued(WaveInDevice* device) {
    const Guard lock(device->mutex);
    return device->queueHead;
}

// Gives the first queued buffer back to its owner, with whatever it holds.
void HandBackFirst(WaveInDevice* device) {
    WAVEHDR* header = nullptr;
    {
        const Guard lock(device->mutex);
        header = device->queueHead;
        device->queueHead = header->lpNext;
        if (device->queueHead == nullptr) device->queueTail = nullptr;
        header->lpNext = nullptr;
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    Notify(device, WIM_DATA, header);
}

// Sleeps until woken or, when `reading`, until the PCM has samples or an
// error to report. Returns true when the PCM wants to be read.
bool WaitForDevice(WaveInDevice* device, bool reading) {
    pollfd* const fds = device->pollFds;
    fds[0] = pollfd{device->wake, POLLIN, 0};
    nfds_t count = 1;
    if (reading) {
        // Many devices wake their reader every period, whatever level it
        // asked to be woken at; sleeping until that level is due keeps to one
        // wake-up per level.
        const snd_pcm_sframes_t avail = theAlsa.snd_pcm_avail(device->pcm);
        if (avail >= 0 && static_cast<snd_pcm_uframes_t>(avail) < device->wakeLevel) {
            const auto due = device->wakeLevel - static_cast<snd_pcm_uframes_t>(avail);
            const int woke = poll(fds, 1, static_cast<int>(due * 1000 / kCaptureRate) + 1);
            if (woke == 0) return true;  // the level is due
            if (woke > 0) ClearWake(device->wake);
            return false;  // a request, or EINTR: look again
        }
        const int added =
            theAlsa.snd_pcm_poll_descriptors(device->pcm, &fds[1], static_cast<unsigned>(device->pcmDescriptors));
        if (added > 0) count += static_cast<nfds_t>(added);
    }
    if (poll(fds, count, -1) <= 0) return false;  // EINTR: look again
    if (fds[0].revents != 0) ClearWake(device->wake);
    if (count == 1) return false;
    unsigned short revents = 0;
    if (theAlsa.snd_pcm_poll_descriptors_revents(device->pcm, &fds[1], static_cast<unsigned>(count - 1), &revents) <
        0) {
        return true;  // the read will say what is wrong
    }
    // A hang-up counts too: the read reports it, rather than poll() spinning.
    return (revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

// Reads everything the PCM has into the queued buffers, in order, handing
// each back as it fills; stops once that is read (what arrives meanwhile
// waits for the next wake-up) or the queue runs dry. Sets `failed` if the PCM
// cannot be brought back after an error, so that the thread stops polling it
// until the next Start. Returns whether it read anything.
bool ReadAvailable(WaveInDevice* device, bool& failed) {
    snd_pcm_t* pcm = device->pcm;
    const snd_pcm_sframes_t avail = ReadableFrames(pcm, device->granted, device->framesLost);
    if (avail == 0 || avail == -EAGAIN) return false;
    if (avail < 0) {
        if (!RecoverCapturePcm(pcm, avail)) failed = true;
        return false;
    }
    auto left = static_cast<snd_pcm_uframes_t>(avail);
    bool read = false;
    for (WAVEHDR* header = FirstQueued(device); header != nullptr && left > 0; header = FirstQueued(device)) {
        const DWORD room = (header->dwBufferLength - header->dwBytesRecorded) / kFrameBytes;
        const snd_pcm_uframes_t want = left < room ? left : room;
        const snd_pcm_sframes_t got = theAlsa.snd_pcm_readi(pcm, header->lpData + header->dwBytesRecorded, want);
        if (got == -EAGAIN) return read;
        if (got < 0) {
            if (!RecoverCapturePcm(pcm, got)) failed = true;
            return read;
        }
        read = read || got > 0;
        header->dwBytesRecorded += static_cast<DWORD>(got) * kFrameBytes;
        if (header->dwBufferLength - header->dwBytesRecorded < kFrameBytes) HandBackFirst(device);
        if (static_cast<snd_pcm_uframes_t>(got) < want) return read;
        left -= static_cast<snd_pcm_uframes_t>(got);
    }
    return read;
}

MMRESULT CarryOut(WaveInDevice* device, Command command, bool& running, bool& failed) {
    snd_pcm_t* pcm = device->pcm;
    if (command == Command::kStart) {
        if (running && !failed) return MMSYSERR_NOERROR;  // a failed device gets another try
        if (!StartCapturePcm(pcm)) return MMSYSERR_ERROR;
        running = true;
        failed = false;
        return MMSYSERR_NOERROR;
    }
    if (command == Command::kClose && FirstQueued(device) != nullptr) return WAVERR_STILLPLAYING;
    // What was captured before the request is still delivered: the last
    // whole second may be waiting in the ring.
    if (running && !failed && command == Command::kStop) ReadAvailable(device, failed);
    if (running) theAlsa.snd_pcm_drop(pcm);
    running = false;
    if (command == Command::kStop) {
        const WAVEHDR* first = FirstQueued(device);
        if (first != nullptr && first->dwBytesRecorded > 0) HandBackFirst(device);
    } else if (command == Command::kReset) {
        // Only the buffers queued now: the handler may queue some again.
        size_t queued = 0;
        {
            const Guard lock(device->mutex);
            for (const WAVEHDR* h = device->queueHead; h != nullptr; h = h->lpNext) ++queued;
        }
        for (; queued > 0; --queued) HandBackFirst(device);
    }
    return MMSYSERR_NOERROR;
}

// The capture thread runs at a real-time priority where the system lets it,
// as an audio input's thread does (winmm's own, a sound server's): it then
// runs within a millisecond of its timer however busy the processor is, so
// it can leave itself less of the ring to answer in and wake less often.
// Low among real-time priorities, below the threads of a system that sets
// any; its children, if a handler ever forked, would start at normal
// priority. Where it is refused (no CAP_SYS_NICE, no RLIMIT_RTPRIO), the
// thread keeps its priority and the wider margin.
constexpr int kCapturePriority = 5;

bool RaiseCapturePriority() {
    sched_param priority{};
    priority.sched_priority = kCapturePriority;
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &priority) == 0;
}

// Wakes in a row that read nothing before the thread goes back to normal
// priority: a device that keeps saying it is ready and then gives nothing
// (or keeps failing) would otherwise keep a processor from everything else.
// A device that is only silent for a while costs its timed waits, about
// fifteen seconds of them.
constexpr int kEmptyWakesAtRealTime = 64;

void LowerCapturePriority() {
    sched_param priority{};
    sched_setscheduler(0, SCHED_OTHER | SCHED_RESET_ON_FORK, &priority);
}

void CaptureLoop(void* opened) {
    WaveInDevice* const device = static_cast<WaveInDevice*>(opened);
    { const Guard lock(device->mutex); }  // open has finished setting up
    bool realTime = RaiseCapturePriority();
    device->wakeLevel = realTime ? device->granted.promptWake : device->granted.wake;
    int emptyWakes = 0;
    Notify(device, WIM_OPEN);
    bool running = false;
    bool failed = false;
    for (;;) {
        Command command = Command::kNone;
        WAVEHDR* first = nullptr;
        {
            const Guard lock(device->mutex);
            command = device->command;
            first = device->queueHead;
        }
        if (command != Command::kNone) {
            const MMRESULT result = CarryOut(device, command, running, failed);
            const bool closing = command == Command::kClose && result == MMSYSERR_NOERROR;
            if (closing) Notify(device, WIM_CLOSE);
            {
                const Guard lock(device->mutex);
                device->command = Command::kNone;
                device->commandResult = result;
            }
            WakeAll(device->commandDone);
            if (closing) return;
            continue;
        }
        const bool reading = running && !failed && first != nullptr;
        if (!WaitForDevice(device, reading)) continue;
        emptyWakes = ReadAvailable(device, failed) ? 0 : emptyWakes + 1;
        if (realTime && emptyWakes >= kEmptyWakesAtRealTime) {
            LowerCapturePriority();
            realTime = false;
            device->wakeLevel = device->granted.wake;
        }
    }
}

MMRESULT Request(WaveInDevice* device, Command command) {
    if (device == nullptr || device->wake < 0) return MMSYSERR_INVALHANDLE;
    // The capture thread carries requests out; it cannot wait for itself.
    if (IsCurrentThread(device->capture)) return MMSYSERR_ERROR;
    const Guard serial(device->commandSerial);
    const Guard lock(device->mutex);
    device->command = command;
    SignalWake(device->wake);
    while (device->command != Command::kNone) Wait(device->commandDone, device->mutex);
    return device->commandResult;
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    if (device == nullptr || format == nullptr) return MMSYSERR_INVALPARAM;
    *device = nullptr;
    if ((flags & ~CALLBACK_FUNCTION) != 0) return MMSYSERR_INVALFLAG;
    if (deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
    if (!IsCaptureFormat(*format)) return WAVERR_BADFORMAT;

    const Guard opening(deviceOpening);
    if (deviceOpen) return MMSYSERR_ALLOCATED;
    WaveInDevice& opened = theDevice;
    opened.framesLost = 0;
    opened.handler = flags == CALLBACK_FUNCTION ? reinterpret_cast<WaveInProc>(callback) : nullptr;
    opened.instance = instance;
    opened.command = Command::kNone;
    opened.queueHead = opened.queueTail = nullptr;
    opened.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (opened.wake < 0) return MMSYSERR_NOMEM;
    MMRESULT result = OpenCapturePcm(opened.pcm, opened.granted);
    if (result == MMSYSERR_NOERROR) {
        opened.pcmDescriptors = theAlsa.snd_pcm_poll_descriptors_count(opened.pcm);
        const bool polled = opened.pcmDescriptors >= 0 && opened.pcmDescriptors <= kMostPcmDescriptors;
        // Held until the thread has been made: it waits for it before it
        // calls the handler.
        const Guard lock(opened.mutex);
        result = !polled                                              ? MMSYSERR_ERROR
                 : StartThread(opened.capture, CaptureLoop, &opened) ? MMSYSERR_NOERROR
                                                                      : MMSYSERR_NOMEM;
        if (result != MMSYSERR_NOERROR) CloseCapturePcm(opened.pcm);
    }
    if (result != MMSYSERR_NOERROR) {
        close(opened.wake);
        opened.wake = -1;
        opened.pcm = nullptr;
        return result;
    }
    deviceOpen = true;
    *device = &opened;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    const MMRESULT checked = CheckHeader(device, header, headerSize);
    if (checked != MMSYSERR_NOERROR) return checked;
    const Guard lock(device->mutex);
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    const MMRESULT checked = CheckHeader(device, header, headerSize);
    if (checked != MMSYSERR_NOERROR) return checked;
    const Guard lock(device->mutex);
    if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    const MMRESULT checked = CheckHeader(device, header, headerSize);
    if (checked != MMSYSERR_NOERROR) return checked;
    bool wasEmpty = false;
    {
        const Guard lock(device->mutex);
        if ((header->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
        if ((header->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
        if (header->dwBufferLength < kFrameBytes) return MMSYSERR_INVALPARAM;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        header->dwBytesRecorded = 0;
        header->lpNext = nullptr;
        wasEmpty = device->queueHead == nullptr;
        (wasEmpty ? device->queueHead : device->queueTail->lpNext) = header;
        device->queueTail = header;
    }
    if (wasEmpty) SignalWake(device->wake);  // the thread may be waiting for a buffer
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) { return Request(device, Command::kStart); }

MMRESULT waveInStop(HWAVEIN device) { return Request(device, Command::kStop); }

MMRESULT waveInReset(HWAVEIN device) { return Request(device, Command::kReset); }

MMRESULT waveInClose(HWAVEIN device) {
    const MMRESULT result = Request(device, Command::kClose);
    if (result != MMSYSERR_NOERROR) return result;
    JoinThread(device->capture);
    CloseCapturePcm(device->pcm);
    close(device->wake);
    // A handle used after its close must reach no descriptor number the
    // process has reused meanwhile.
    device->wake = -1;
    device->pcm = nullptr;
    const Guard opening(deviceOpening);
    deviceOpen = false;
    return MMSYSERR_NOERROR;
}
