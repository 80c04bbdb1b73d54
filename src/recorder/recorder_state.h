// The process's one recording: what SoundRecorderStart, SoundRecorderStop,
// the capture handler and the recorder's writer thread share.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "platform/recording_file.h"
#include "platform/threads.h"
#include "platform/wave_in.h"
#include "wav/wav_header.h"

namespace tolvane::recorder {

constexpr uint32_t kCaptureRate = 8000;
// One block is one second of sound: the device fills it, the file gets it.
constexpr uint32_t kBlockSamples = kCaptureRate;
constexpr uint32_t kBlockBytes = kBlockSamples * kBytesPerSample;

// The header's sizes are 32-bit: data + 36 must stay <= 0xFFFFFFFF, so a file
// holds at most this many blocks (about 74 hours).
constexpr int32_t kMaxBlocks = static_cast<int32_t>((0xFFFFFFFFu - kRiffSizeOverhead) / kBlockBytes);
static_assert(uint64_t{kMaxBlocks} * kBlockBytes + kRiffSizeOverhead <= 0xFFFFFFFFu);
static_assert((uint64_t{kMaxBlocks} + 1) * kBlockBytes + kRiffSizeOverhead > 0xFFFFFFFFu);

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
// joined. NextFile hands the writer a new file through `handoff` and waits
// on `switched` until the writer has finished the old one and moved on.
struct RecorderState {
    // Guards the file's state: output, writeFailed, blockCount, durable.
    tolvane::platform::Mutex lock;

    // Open from a successful Start to the matching Stop; null means idle.
    FILE* output = nullptr;
    // A block could not be written: nothing more is appended, so the blocks
    // that the header counts stay the first bytes of the data.
    bool writeFailed = false;
    // Whole blocks in the file, as its header states.
    int32_t blockCount = 0;
    // Everything written to the file is on storage: the header there states
    // `blockCount` and nothing follows the counted blocks, so finishing the
    // file has nothing to write or sync. Cleared by each block, whose header
    // reaches storage with the next block's sync.
    bool durable = false;
    // Blocks a file may take; lowered only by tests.
    int32_t blockLimit = kMaxBlocks;

    // Which file `output` is, so that NextFile never truncates it. Used by
    // the host thread only.
    tolvane::platform::RecordingFileId outputId;

    // The open device, null when none. Used by the host thread only.
    HWAVEIN device = nullptr;

    // The capture buffers as the device sees them; each is lent from
    // AddBuffer until the device hands it back. The buffers themselves are
    // theCaptureBuffers.
    WAVEHDR descriptors[kCaptureBuffers]{};

    // Buffers handed back by the device, oldest first, waiting for the
    // writer; and whether the writer is to end once they are done. Guarded
    // by `handoff`.
    tolvane::platform::HandoffSignal handoff;
    WAVEHDR* handed[kCaptureBuffers]{};
    int handedFirst = 0;
    int handedCount = 0;
    bool finishing = false;
    // A new file from NextFile, null when none waits; the writer moves to it
    // once the first `switchAfter` buffers handed back are done (those belong
    // to the file it leaves). Guarded by `handoff`.
    FILE* nextOutput = nullptr;
    int switchAfter = 0;

    // Set by the writer once it has finished the file it left and moved to
    // `nextOutput`, with the whole blocks that file holds; NextFile waits for
    // it and clears it. Guarded by `switched`.
    tolvane::platform::HandoffSignal switched;
    bool switchDone = false;
    int32_t finishedBlocks = 0;

    // The writer queues buffers again only while this is set, to
    // `queueDevice`; Stop clears it before it takes every buffer back.
    // Guarded by `requeueLock`, which the writer holds while it queues.
    tolvane::platform::Mutex requeueLock;
    bool requeue = false;
    HWAVEIN queueDevice = nullptr;

    // The writer thread, from Start to Stop.
    tolvane::platform::Thread writer;
};

extern RecorderState theRecorder;

// The capture buffers' memory, apart from the state: the state has non-zero
// initial values, which the library's file carries, and these 160 kB are
// zero at load, which it does not.
extern char theCaptureBuffers[kCaptureBuffers][kBlockBytes];

}  // namespace tolvane::recorder
