// The process's one recording: what SoundRecorderStart, SoundRecorderStop,
// the capture handler and the recorder's writer thread share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/handoff_signal.h"
#include "platform/wave_in.h"
#include "wav/wav_header.h"

namespace tolvane::recorder {

constexpr std::uint32_t kCaptureRate = 8000;
// One block is one second of sound: the device fills it, the file gets it.
constexpr std::uint32_t kBlockSamples = kCaptureRate;
constexpr std::uint32_t kBlockBytes = kBlockSamples * kBytesPerSample;

// The header's sizes are 32-bit: data + 36 must stay <= 0xFFFFFFFF, so a file
// holds at most this many blocks (about 74 hours).
constexpr std::int32_t kMaxBlocks = static_cast<std::int32_t>((0xFFFFFFFFu - kRiffSizeOverhead) / kBlockBytes);
static_assert(std::uint64_t{kMaxBlocks} * kBlockBytes + kRiffSizeOverhead <= 0xFFFFFFFFu);
static_assert((std::uint64_t{kMaxBlocks} + 1) * kBlockBytes + kRiffSizeOverhead > 0xFFFFFFFFu);

// How many one-second buffers the device is lent. All are queued together,
// so while the writer waits for storage the device still has the others to
// fill: storage may stall for nine seconds (one buffer is in the writer's
// hands) before a sample is lost.
constexpr int kCaptureBuffers = 10;

// Every member has a constant initial value: nothing runs at load.
//
// Three threads take part. The device's thread runs the handler, which only
// hands each filled buffer over (under `handoff`) and signals: the only
// calls a winmm callback may make safely. The recorder's writer thread takes
// the buffers, appends the full ones to the file (under `lock`) and queues
// them again. The host thread (Start, Stop) sets everything up before the
// writer and the device run, and takes the file back once the writer is
// joined.
struct RecorderState {
    // Guards the file's state: output, writeFailed, blockCount, durable.
    std::mutex lock;

    // Open from a successful Start to the matching Stop; null means idle.
    std::FILE* output = nullptr;
    // A block could not be written: nothing more is appended, so the blocks
    // that the header counts stay the first bytes of the data.
    bool writeFailed = false;
    // Whole blocks in the file, as its header states.
    std::int32_t blockCount = 0;
    // Everything written to the file is on storage: the header there states
    // `blockCount` and nothing follows the counted blocks, so Stop has
    // nothing to write or sync.
    bool durable = false;
    // Blocks a file may take; lowered only by tests.
    std::int32_t blockLimit = kMaxBlocks;

    // The open device, null when none. Used by the host thread only.
    HWAVEIN device = nullptr;

    // The capture buffers as the device sees them; each is lent from
    // AddBuffer until the device hands it back.
    WAVEHDR descriptors[kCaptureBuffers]{};
    char buffers[kCaptureBuffers][kBlockBytes]{};

    // Buffers handed back by the device, oldest first, waiting for the
    // writer; and whether the writer is to end once they are done. Guarded
    // by `handoff`.
    tolvane::platform::HandoffSignal handoff;
    WAVEHDR* handed[kCaptureBuffers]{};
    int handedFirst = 0;
    int handedCount = 0;
    bool finishing = false;

    // The writer queues buffers again only while this is set, to
    // `queueDevice`; Stop clears it before it takes every buffer back.
    // Guarded by `requeueLock`, which the writer holds while it queues.
    std::mutex requeueLock;
    bool requeue = false;
    HWAVEIN queueDevice = nullptr;

    // The writer thread, from Start to Stop. Held by pointer: a thread still
    // running when the process ends must not be destroyed with the state.
    std::thread* writer = nullptr;
};

extern RecorderState theRecorder;

}  // namespace tolvane::recorder
