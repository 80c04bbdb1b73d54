#include "scripted_wave_in.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

// One job for the device's thread; the caller waits until `done`.
struct Job {
    enum class Kind { kDeliver, kMessage, kStop, kReset, kClose } kind;
    DWORD bytes = 0;  // kDeliver: bytes recorded in the buffer handed back
    UINT message = 0;
    bool done = false;
    bool handedBack = false;
    WAVEHDR* header = nullptr;  // the buffer handed back
};

struct WaveInDevice {
    WaveInProc proc = nullptr;
    DWORD_PTR instance = 0;
    std::deque<WAVEHDR*> queued;
    std::deque<Job*> jobs;
    bool started = false;
    bool closing = false;
    std::uint32_t serial = 0;  // full blocks handed back so far
    WAVEHDR* lastHandedBack = nullptr;
    std::thread thread;
};

namespace {

using Lock = std::unique_lock<std::mutex>;

// Everything here is guarded by one lock, which is never held while the
// handler runs (the handler calls back in).
std::mutex stateLock;
std::condition_variable changed;
WaveInDevice* current = nullptr;
scripted::Failures failures;
scripted::Counters counters;

constexpr unsigned char kPartialFiller = 0x7E;

MMRESULT Misuse(MMRESULT result) {
    ++counters.protocolErrors;
    return result;
}

// Asks HandBack for a full buffer.
constexpr DWORD kWholeBuffer = 0xFFFFFFFF;

// Hands the oldest queued buffer back with `bytes` recorded. Needs `lock`.
bool HandBack(WaveInDevice& d, DWORD bytes, Lock& lock) {
    if (d.queued.empty()) {
        return false;
    }
    WAVEHDR* header = d.queued.front();
    d.queued.pop_front();
    bytes = bytes < header->dwBufferLength ? bytes : header->dwBufferLength;
    auto* data = reinterpret_cast<unsigned char*>(header->lpData);
    if (bytes == header->dwBufferLength) {
        scripted::FillBlock(d.serial++, data, bytes);
    } else {
        std::memset(data, kPartialFiller, bytes);
    }
    header->dwBytesRecorded = bytes;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    d.lastHandedBack = header;
    lock.unlock();
    d.proc(&d, WIM_DATA, d.instance, reinterpret_cast<DWORD_PTR>(header), 0);
    lock.lock();
    return true;
}

void Execute(WaveInDevice& d, Job& job, Lock& lock) {
    switch (job.kind) {
        case Job::Kind::kDeliver:
            job.handedBack = d.started && HandBack(d, job.bytes, lock);
            job.header = d.lastHandedBack;
            break;
        case Job::Kind::kMessage:
            lock.unlock();
            d.proc(&d, job.message, d.instance, 0, 0);
            lock.lock();
            job.handedBack = true;
            break;
        case Job::Kind::kStop:
            if (d.started) {
                d.started = false;
                HandBack(d, scripted::kStopPartialBytes, lock);
            }
            break;
        case Job::Kind::kReset: {
            d.started = false;
            // Only what is queued now: a handler that queues again during a
            // reset leaves its buffer queued, and unprepare will say so.
            for (std::size_t n = d.queued.size(); n > 0; --n) {
                HandBack(d, 0, lock);
            }
            break;
        }
        case Job::Kind::kClose:
            lock.unlock();
            d.proc(&d, WIM_CLOSE, d.instance, 0, 0);
            lock.lock();
            break;
    }
}

void RunDevice(WaveInDevice* d) {
    Lock lock(stateLock);
    for (;;) {
        changed.wait(lock, [d] { return !d->jobs.empty(); });
        Job* job = d->jobs.front();
        d->jobs.pop_front();
        Execute(*d, *job, lock);
        job->done = true;
        changed.notify_all();
        if (job->kind == Job::Kind::kClose) {
            return;
        }
    }
}

// Runs `job` on the device's thread and waits for it. Needs `lock`.
void Run(WaveInDevice& d, Job& job, Lock& lock) {
    d.jobs.push_back(&job);
    changed.notify_all();
    changed.wait(lock, [&job] { return job.done; });
}

// Runs a job on the current device unless it is gone or going. A buffer
// handed back is awaited until the recorder has done with it and queued it
// again (or the device stops), so the test sees what the handing back led to.
bool RunOnCurrent(Job job, bool awaitRequeue = true) {
    Lock lock(stateLock);
    WaveInDevice* d = current;
    if (d == nullptr || d->closing) {
        return false;
    }
    Run(*d, job, lock);
    if (job.kind == Job::Kind::kDeliver && job.handedBack && awaitRequeue) {
        changed.wait(lock, [d, &job] {
            return current != d || d->closing || !d->started || (job.header->dwFlags & WHDR_INQUEUE) != 0;
        });
    }
    return job.handedBack;
}

bool Valid(HWAVEIN device) { return device != nullptr && device == current && !device->closing; }

MMRESULT CheckCall(HWAVEIN device, UINT headerSize = sizeof(WAVEHDR)) {
    ++counters.calls;
    if (!Valid(device)) {
        return Misuse(MMSYSERR_INVALHANDLE);
    }
    return headerSize == sizeof(WAVEHDR) ? MMSYSERR_NOERROR : Misuse(MMSYSERR_INVALPARAM);
}

}  // namespace

namespace scripted {

void Reset(Failures f) {
    const Lock lock(stateLock);
    failures = f;
    counters = Counters{};
}

Counters Snapshot() {
    const Lock lock(stateLock);
    return counters;
}

bool DeviceOpen() {
    const Lock lock(stateLock);
    return current != nullptr;
}

void ForceClose() {
    HWAVEIN device = nullptr;
    {
        const Lock lock(stateLock);
        device = current;
        if (device == nullptr) {
            return;
        }
        device->started = false;
        device->queued.clear();
    }
    waveInClose(device);
}

bool DeliverBlock() { return RunOnCurrent(Job{Job::Kind::kDeliver, kWholeBuffer}); }

bool DeliverBlockNow() { return RunOnCurrent(Job{Job::Kind::kDeliver, kWholeBuffer}, false); }

bool DeliverPartial(DWORD bytes) { return RunOnCurrent(Job{Job::Kind::kDeliver, bytes}); }

bool Notify(UINT message) { return RunOnCurrent(Job{Job::Kind::kMessage, 0, message}); }

void FillBlock(std::uint32_t serial, unsigned char* out, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>((i * 7 + (i >> 8) + serial * 13 + 1) & 0xFF);
    }
}

}  // namespace scripted

MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    Lock lock(stateLock);
    ++counters.calls;
    ++counters.openAttempts;
    counters.deviceId = deviceId;
    counters.openFlags = flags;
    counters.format = *format;
    if (failures.open != MMSYSERR_NOERROR) {
        return failures.open;
    }
    if (current != nullptr) {
        return MMSYSERR_ALLOCATED;
    }
    if (flags != CALLBACK_FUNCTION || callback == 0) {
        return Misuse(MMSYSERR_INVALFLAG);
    }
    auto* d = new WaveInDevice;
    d->proc = reinterpret_cast<WaveInProc>(callback);
    d->instance = instance;
    d->thread = std::thread(RunDevice, d);
    current = d;
    *device = d;
    ++counters.opens;
    Job open{Job::Kind::kMessage, 0, WIM_OPEN};
    Run(*d, open, lock);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    const Lock lock(stateLock);
    if (const MMRESULT r = CheckCall(device, headerSize)) {
        return r;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    const Lock lock(stateLock);
    if (const MMRESULT r = CheckCall(device, headerSize)) {
        return r;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return Misuse(WAVERR_STILLPLAYING);
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT headerSize) {
    const Lock lock(stateLock);
    if (const MMRESULT r = CheckCall(device, headerSize)) {
        return r;
    }
    if (failures.addBuffer != MMSYSERR_NOERROR) {
        return failures.addBuffer;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return Misuse(WAVERR_UNPREPARED);
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return Misuse(MMSYSERR_INVALPARAM);
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    device->queued.push_back(header);
    changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
    const Lock lock(stateLock);
    if (const MMRESULT r = CheckCall(device)) {
        return r;
    }
    if (failures.start != MMSYSERR_NOERROR) {
        return failures.start;
    }
    device->started = true;
    return MMSYSERR_NOERROR;
}

namespace {

MMRESULT RunOn(HWAVEIN device, Job::Kind kind) {
    Lock lock(stateLock);
    if (const MMRESULT r = CheckCall(device)) {
        return r;
    }
    Job job{kind};
    Run(*device, job, lock);
    return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT waveInStop(HWAVEIN device) { return RunOn(device, Job::Kind::kStop); }

MMRESULT waveInReset(HWAVEIN device) { return RunOn(device, Job::Kind::kReset); }

MMRESULT waveInClose(HWAVEIN device) {
    {
        Lock lock(stateLock);
        if (const MMRESULT r = CheckCall(device)) {
            return r;
        }
        if (!device->queued.empty()) {
            return Misuse(WAVERR_STILLPLAYING);
        }
        device->closing = true;
        Job close{Job::Kind::kClose};
        Run(*device, close, lock);
        current = nullptr;
        ++counters.closes;
    }
    device->thread.join();
    delete device;
    return MMSYSERR_NOERROR;
}
