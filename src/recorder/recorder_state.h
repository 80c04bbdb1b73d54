// The process's one recording: what SoundRecorderStart, SoundRecorderStop and
// the capture handler share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

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

// Every member has a constant initial value: nothing runs at load. The host
// thread (Start, Stop) and the device's thread (the handler) meet under
// `lock`; the host never holds it while calling into the device, because the
// device's calls wait for its thread, which may be waiting for the lock.
struct RecorderState {
    std::mutex lock;

    // Open from a successful Start to the matching Stop; null means idle.
    // Written by the host thread under `lock`.
    std::FILE* output = nullptr;
    // The handler may append: set by Start once the file is ready, cleared
    // under `lock` as soon as Stop begins, after which the handler leaves the
    // file and the buffer alone.
    bool accepting = false;
    // A block could not be written: nothing more is appended, so the blocks
    // that the header counts stay the first bytes of the data.
    bool writeFailed = false;
    // Whole blocks in the file, as its header states. Written under `lock`.
    std::int32_t blockCount = 0;
    // Everything written to the file is on storage: the header there states
    // `blockCount` and nothing follows the counted blocks, so Stop has
    // nothing to write or sync. Written under `lock`.
    bool durable = false;
    // Blocks a file may take; lowered only by tests.
    std::int32_t blockLimit = kMaxBlocks;

    // The open device, null when none. Used by the host thread only.
    HWAVEIN device = nullptr;

    // The one capture buffer as the device sees it, lent from AddBuffer until
    // the device hands it back.
    WAVEHDR descriptor{};
    char captureBuffer[kBlockBytes]{};
    // Copy of a full capture buffer, so the buffer can go back to the device
    // before the file write.
    char snapshot[kBlockBytes]{};
};

extern RecorderState theRecorder;

}  // namespace tolvane::recorder
