// SoundRecorderStart / SoundRecorderStop / SoundRecorderNextFile: records the
// default audio input at 8000 Hz, 16-bit, mono into WAV files, one whole
// second at a time.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "TolvaneWAVTimeStretch.h"
#include "platform/recording_file.h"
#include "platform/wave_in.h"
#include "recorder/recorder_state.h"
#include "wav/wav_header.h"

namespace tolvane::recorder {

RecorderState theRecorder;
char theCaptureBuffers[kCaptureBuffers][kBlockBytes];

namespace {

// What the device is told the descriptor's size is: the system's own layout
// (a 64-bit system rejects the 32-bit layout's size).
constexpr UINT kDescriptorSize = static_cast<UINT>(sizeof(WAVEHDR));

using Guard = tolvane::platform::MutexGuard;

// Brings the header at the start of the file up to `blockCount` and hands it
// to the system (not to storage), so that the file is a valid WAV holding
// every counted block even if the process dies next. Needs `lock`.
bool WriteHeader(RecorderState& s) {
    const bool written =
        fseek(s.output, 0, SEEK_SET) == 0 &&
        WriteWavHeader(s.output, kCaptureRate, static_cast<uint32_t>(s.blockCount) * kBlockSamples);
    return fflush(s.output) == 0 && written;
}

// Appends `block` as one more block, with one sync a second: each sync makes
// the new block durable together with the header written after the sync
// before, which counts only blocks that sync had made durable. So storage
// never holds a header that counts a block it may lack, and each second
// wakes storage once; a power cut may lose the last two seconds written (the
// one that is durable but not yet counted there, and the one in flight). The
// header counting the new block is written once it is durable, so that the
// file the system holds counts every durable block: a process that dies
// loses none of them. Needs `lock`.
void AppendBlock(RecorderState& s, const char* block) {
    // The counted blocks end here, whatever the file's size.
    const uint64_t end = kWavHeaderSize + static_cast<uint64_t>(s.blockCount) * kBlockBytes;
    s.durable = false;
    if (!tolvane::platform::SeekRecordingFile(s.output, end) ||
        fwrite(block, 1, kBlockBytes, s.output) != kBlockBytes ||
        !tolvane::platform::SyncRecordingFile(s.output)) {
        // Whatever part of the block did get written (a disk filling up part
        // way, or one that could not keep it) is cut off again, so that
        // nothing follows the counted blocks. The header on storage may lag
        // one block behind `blockCount`: finishing the file brings it up.
        tolvane::platform::CutRecordingFile(s.output, end);
        clearerr(s.output);
        s.writeFailed = true;
        return;
    }
    ++s.blockCount;
    // The block is durable, so the header may count it even if this fails;
    // but a file that cannot take its header takes no more blocks.
    if (!WriteHeader(s)) {
        clearerr(s.output);
        s.writeFailed = true;
    }
}

// Finishes the file: its final header, counting every block in it, written
// and made durable with one sync (none when storage holds it already).
// Returns false when that could not be done; the file then still counts
// every block in it, but after a power cut storage may count one less.
// Needs `lock`.
bool FinishFile(RecorderState& s) {
    if (!s.durable) {
        s.durable = WriteHeader(s) && tolvane::platform::SyncRecordingFile(s.output);
        clearerr(s.output);
    }
    return s.durable;
}

// The handler the device calls on its own thread. It only hands the buffer
// to the writer and wakes it: inside a winmm callback, calling other wave
// functions can deadlock and waiting for storage starves the device.
void CALLBACK OnWaveInMessage(HWAVEIN, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA) {
        return;
    }
    RecorderState& s = theRecorder;
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    // Compared one by one: subtracting a pointer that is not into the array
    // would be undefined.
    bool ours = false;
    for (const WAVEHDR& descriptor : s.descriptors) ours = ours || header == &descriptor;
    if (!ours) {
        return;
    }
    LockHandoff(s.handoff);
    // Each buffer is handed back once per queueing, so there is always room.
    s.handed[(s.handedFirst + s.handedCount) % kCaptureBuffers] = header;
    ++s.handedCount;
    NotifyHandoff(s.handoff);
    UnlockHandoff(s.handoff);
}

// What the writer does next: write a buffer handed back, or move to a new
// file (`header` null); neither once Stop has asked it to finish and every
// buffer handed back is done.
struct WriterStep {
    WAVEHDR* header = nullptr;
    FILE* nextFile = nullptr;
};

// The next step, oldest buffer first, waiting for one. A new file comes
// after the buffers handed back before NextFile asked for it.
WriterStep TakeHandedBack(RecorderState& s) {
    LockHandoff(s.handoff);
    while (s.handedCount == 0 && s.nextOutput == nullptr && !s.finishing) {
        WaitHandoff(s.handoff);
    }
    WriterStep step;
    if (s.nextOutput != nullptr && s.switchAfter == 0) {
        step.nextFile = s.nextOutput;
        s.nextOutput = nullptr;
    } else if (s.handedCount > 0) {
        step.header = s.handed[s.handedFirst];
        s.handedFirst = (s.handedFirst + 1) % kCaptureBuffers;
        --s.handedCount;
        if (s.nextOutput != nullptr) {
            --s.switchAfter;
        }
    }
    UnlockHandoff(s.handoff);
    return step;
}

// Finishes the file and closes it. Returns the blocks in the file. Needs
// `lock`.
int32_t CloseOutput(RecorderState& s) {
    // The last second's header is on storage only after this sync.
    FinishFile(s);
    fclose(s.output);
    s.output = nullptr;
    return s.blockCount;
}

// Finishes the file being recorded and goes on in `next`, an empty recording
// on storage, from a clean start; then tells NextFile. Meanwhile the device
// keeps every buffer it was lent and the handler queues what it fills: the
// writer holds none of them while it finishes the file.
void MoveToFile(RecorderState& s, FILE* next) {
    int32_t finished = 0;
    {
        const Guard guard(s.lock);
        finished = CloseOutput(s);
        s.output = next;
        s.blockCount = 0;
        s.writeFailed = false;
        s.durable = true;
    }
    LockHandoff(s.switched);
    s.finishedBlocks = finished;
    s.switchDone = true;
    NotifyHandoff(s.switched);
    UnlockHandoff(s.switched);
}

// The writer thread: writes each full buffer the device hands back, then
// lends the buffer to the device again. A buffer handed back part filled (a
// device stopping or resetting) holds no whole second: it is not written.
void WriteHandedBack(void* state) {
    RecorderState& s = *static_cast<RecorderState*>(state);
    for (WriterStep step = TakeHandedBack(s); step.header != nullptr || step.nextFile != nullptr;
         step = TakeHandedBack(s)) {
        if (step.nextFile != nullptr) {
            MoveToFile(s, step.nextFile);
            continue;
        }
        WAVEHDR* header = step.header;
        if (header->dwBytesRecorded >= kBlockBytes) {
            const Guard guard(s.lock);
            if (!s.writeFailed && s.blockCount < s.blockLimit) {
                AppendBlock(s, header->lpData);
            }
        }
        const Guard guard(s.requeueLock);
        if (s.requeue) {
            header->dwBytesRecorded = 0;
            waveInAddBuffer(s.queueDevice, header, kDescriptorSize);
        }
    }
}

// Opens, arms and starts the device. Returns RESULT_OK or the failing step.
int32_t StartCapture(RecorderState& s) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = kCaptureRate;
    format.nAvgBytesPerSec = kCaptureRate * kBytesPerSample;
    format.nBlockAlign = static_cast<WORD>(kBytesPerSample);
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    // Through the handler type, so that a wrong calling convention does not
    // compile.
    const WaveInProc handler = &OnWaveInMessage;
    if (waveInOpen(&s.device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(handler), 0, CALLBACK_FUNCTION) !=
        MMSYSERR_NOERROR) {
        s.device = nullptr;
        return RESULT_RECORDER_OPEN_FAILED;
    }
    {
        const Guard guard(s.requeueLock);
        s.queueDevice = s.device;
        s.requeue = true;
    }
    // Every buffer is queued before capture starts, so the device has all of
    // them to fill while the writer waits for storage.
    for (int i = 0; i < kCaptureBuffers; ++i) {
        WAVEHDR& descriptor = s.descriptors[i];
        descriptor = WAVEHDR{};
        descriptor.lpData = theCaptureBuffers[i];
        descriptor.dwBufferLength = kBlockBytes;
        // A failed prepare shows as a failed AddBuffer.
        waveInPrepareHeader(s.device, &descriptor, kDescriptorSize);
        if (waveInAddBuffer(s.device, &descriptor, kDescriptorSize) != MMSYSERR_NOERROR) {
            return RESULT_RECORDER_QUEUE_FAILED;
        }
    }
    if (waveInStart(s.device) != MMSYSERR_NOERROR) {
        return RESULT_RECORDER_START_FAILED;
    }
    return RESULT_OK;
}

// Ends the recording that is open: releases the device, lets the writer
// write every whole second the device handed back, writes the final header
// and closes the file. Returns the blocks in the file.
int32_t FinishRecording(RecorderState& s) {
    if (s.device != nullptr) {
        // Stop hands back the buffer being filled, part filled; every full
        // one handed back before stays with the writer, which writes it.
        waveInStop(s.device);
        {
            const Guard guard(s.requeueLock);
            s.requeue = false;
        }
        // From here the writer queues nothing, so Reset returns every buffer
        // still queued and all of them can be unprepared.
        waveInReset(s.device);
        for (WAVEHDR& descriptor : s.descriptors) {
            waveInUnprepareHeader(s.device, &descriptor, kDescriptorSize);
        }
        waveInClose(s.device);
        s.device = nullptr;
    }
    if (s.writer.started) {
        LockHandoff(s.handoff);
        s.finishing = true;
        NotifyHandoff(s.handoff);
        UnlockHandoff(s.handoff);
        // Waits for storage if the writer is behind: every second captured
        // before Stop is written before Stop returns.
        JoinThread(s.writer);
    }
    CloseHandoff(s.handoff);
    CloseHandoff(s.switched);
    const Guard guard(s.lock);
    return CloseOutput(s);
}

// Starts the writer thread with an empty hand-over.
bool StartWriter(RecorderState& s) {
    if (!OpenHandoff(s.handoff) || !OpenHandoff(s.switched)) {
        return false;
    }
    s.handedFirst = 0;
    s.handedCount = 0;
    s.finishing = false;
    s.nextOutput = nullptr;
    s.switchDone = false;
    return StartThread(s.writer, WriteHandedBack, &s);
}

// Creates `path` as an empty recording: a valid WAV with no samples, on
// storage with its directory entry; `id` says which file it is. Returns null
// when any of that fails, or when `path` is the file `keep` names (which is
// left as it is).
FILE* CreateOutput(const TolvanePathChar* path, const tolvane::platform::RecordingFileId& keep,
                   tolvane::platform::RecordingFileId& id) {
    FILE* file = tolvane::platform::OpenRecordingFile(path, keep, id);
    if (file == nullptr) {
        return nullptr;
    }
    // Unbuffered: each block and each header goes to the system in one write
    // as it is made, so a block that fails part way leaves nothing pending
    // that could land behind the counted blocks later.
    setvbuf(file, nullptr, _IONBF, 0);
    // The placeholder is the header for no samples: the file is a valid WAV
    // from the start, and it exists after a power cut from the moment it is
    // handed over.
    if (!WriteWavHeader(file, kCaptureRate, 0) || fflush(file) != 0 ||
        !tolvane::platform::SyncNewRecordingFile(file, path)) {
        fclose(file);
        return nullptr;
    }
    return file;
}

}  // namespace
}  // namespace tolvane::recorder

extern "C" int32_t SoundRecorderStart(const TolvanePathChar* outputPath) {
    using namespace tolvane::recorder;
    RecorderState& s = theRecorder;
    if (s.output != nullptr) {
        return RESULT_RECORDER_OPEN_FAILED;  // the device is ours already
    }
    FILE* file = CreateOutput(outputPath, tolvane::platform::RecordingFileId{}, s.outputId);
    if (file == nullptr) {
        return RESULT_RECORDER_FILE_FAILED;
    }
    {
        const Guard guard(s.lock);
        s.output = file;
        s.blockCount = 0;
        s.writeFailed = false;
        s.durable = true;
    }
    // Without a writer nothing could be recorded: as for a device that
    // cannot be opened.
    const int32_t result = StartWriter(s) ? StartCapture(s) : RESULT_RECORDER_OPEN_FAILED;
    if (result != RESULT_OK) {
        FinishRecording(s);
    }
    return result;
}

extern "C" int32_t SoundRecorderStop(void) {
    using namespace tolvane::recorder;
    RecorderState& s = theRecorder;
    return s.output != nullptr ? FinishRecording(s) : 0;
}

extern "C" int32_t SoundRecorderNextFile(const TolvanePathChar* nextPath, int32_t* finishedSeconds) {
    using namespace tolvane::recorder;
    RecorderState& s = theRecorder;
    if (finishedSeconds != nullptr) {
        *finishedSeconds = 0;
    }
    // Only the host thread opens and closes a recording, and the writer
    // swaps the file only while NextFile waits for it: read without `lock`.
    if (s.output == nullptr) {
        return RESULT_RECORDER_NOT_RECORDING;
    }
    // The file being recorded, by whatever name, is refused before it is
    // truncated.
    tolvane::platform::RecordingFileId nextId;
    FILE* next = CreateOutput(nextPath, s.outputId, nextId);
    if (next == nullptr) {
        return RESULT_RECORDER_FILE_FAILED;
    }
    // Every buffer handed back so far (captured before this call, or while
    // the new file was made) goes to the file left; the buffer being filled
    // goes to the new one. The device is not touched: the boundary falls
    // between two consecutive buffers.
    LockHandoff(s.handoff);
    s.nextOutput = next;
    s.switchAfter = s.handedCount;
    NotifyHandoff(s.handoff);
    UnlockHandoff(s.handoff);

    LockHandoff(s.switched);
    while (!s.switchDone) {
        WaitHandoff(s.switched);
    }
    s.switchDone = false;
    const int32_t finished = s.finishedBlocks;
    UnlockHandoff(s.switched);
    s.outputId = nextId;
    if (finishedSeconds != nullptr) {
        *finishedSeconds = finished;
    }
    return RESULT_OK;
}
