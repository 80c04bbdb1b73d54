// SoundRecorderStart / SoundRecorderStop: records the default audio input at
// 8000 Hz, 16-bit, mono into a WAV file, one whole second at a time.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "TolvaneWAVTimeStretch.h"
#include "platform/recording_file.h"
#include "platform/wave_in.h"
#include "recorder/recorder_state.h"
#include "wav/wav_header.h"

namespace tolvane::recorder {

RecorderState theRecorder;

namespace {

// What the device is told the descriptor's size is: the system's own layout
// (a 64-bit system rejects the 32-bit layout's size).
constexpr UINT kDescriptorSize = static_cast<UINT>(sizeof(WAVEHDR));

using Guard = std::lock_guard<std::mutex>;

// Brings the header at the start of the file up to `blockCount` and hands
// everything written to the system, so that the file is a valid WAV holding
// every counted block even if the process dies next. Needs `lock`.
bool WriteHeader(RecorderState& s) {
    const bool written =
        std::fseek(s.output, 0, SEEK_SET) == 0 &&
        WriteWavHeader(s.output, kCaptureRate, static_cast<std::uint32_t>(s.blockCount) * kBlockSamples);
    return std::fflush(s.output) == 0 && written;
}

// Appends the snapshot as one more block. Its bytes are made durable before
// the header that counts them is written, and that header is made durable in
// turn, so that after a power cut at any moment the file still holds every
// block its header counts, and every block but the one being appended. Needs
// `lock`.
void AppendSnapshot(RecorderState& s) {
    // The counted blocks end here, whatever the file's size.
    const std::uint64_t end = kWavHeaderSize + static_cast<std::uint64_t>(s.blockCount) * kBlockBytes;
    s.durable = false;
    if (!tolvane::platform::SeekRecordingFile(s.output, end) ||
        std::fwrite(s.snapshot, 1, kBlockBytes, s.output) != kBlockBytes ||
        !tolvane::platform::SyncRecordingFile(s.output)) {
        // Whatever part of the block did get written (a disk filling up part
        // way, or one that could not keep it) is cut off again, so that
        // nothing follows the counted blocks.
        tolvane::platform::CutRecordingFile(s.output, end);
        std::clearerr(s.output);
        s.writeFailed = true;
        return;
    }
    ++s.blockCount;
    // The block is durable, so the header may count it even if this fails;
    // but a file that cannot take its header takes no more blocks.
    if (!WriteHeader(s) || !tolvane::platform::SyncRecordingFile(s.output)) {
        std::clearerr(s.output);
        s.writeFailed = true;
        return;
    }
    s.durable = true;
}

// The handler the device calls on its own thread.
void CALLBACK OnWaveInMessage(HWAVEIN device, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (message != WIM_DATA) {
        return;
    }
    RecorderState& s = theRecorder;
    const Guard guard(s.lock);
    if (!s.accepting) {
        return;  // Stop has begun: the buffer stays with us, the file with Stop.
    }
    // A buffer handed back part filled (a device stopping or resetting) holds
    // no whole second: it is not written.
    const bool append = s.descriptor.dwBytesRecorded >= kBlockBytes && !s.writeFailed &&
                        s.blockCount < s.blockLimit;
    if (append) {
        std::memcpy(s.snapshot, s.captureBuffer, kBlockBytes);
    }
    // Back to the device before the file write, so that capture goes on
    // while the snapshot is written.
    s.descriptor.dwBytesRecorded = 0;
    waveInAddBuffer(device, &s.descriptor, kDescriptorSize);
    if (append) {
        AppendSnapshot(s);
    }
}

// Opens, arms and starts the device. Returns RESULT_OK or the failing step.
std::int32_t StartCapture(RecorderState& s) {
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
    s.descriptor = WAVEHDR{};
    s.descriptor.lpData = s.captureBuffer;
    s.descriptor.dwBufferLength = kBlockBytes;
    // A failed prepare shows as a failed AddBuffer.
    waveInPrepareHeader(s.device, &s.descriptor, kDescriptorSize);
    if (waveInAddBuffer(s.device, &s.descriptor, kDescriptorSize) != MMSYSERR_NOERROR) {
        return RESULT_RECORDER_QUEUE_FAILED;
    }
    if (waveInStart(s.device) != MMSYSERR_NOERROR) {
        return RESULT_RECORDER_START_FAILED;
    }
    return RESULT_OK;
}

// Ends the recording that is open: releases the device, writes the final
// header and closes the file. Returns the blocks in the file.
std::int32_t FinishRecording(RecorderState& s) {
    {
        const Guard guard(s.lock);
        s.accepting = false;
    }
    // Without the lock: these wait for the device's thread, which may be
    // waiting for the lock in the handler.
    if (s.device != nullptr) {
        waveInStop(s.device);
        // Stop hands back the buffer being filled, but a handler that had
        // re-queued it just before may have left it queued; Reset returns
        // every queued buffer so that it can be unprepared.
        waveInReset(s.device);
        waveInUnprepareHeader(s.device, &s.descriptor, kDescriptorSize);
        waveInClose(s.device);
        s.device = nullptr;
    }
    const Guard guard(s.lock);
    // Each second's header is made durable as it is written, so there is
    // normally nothing left to do here: Stop then waits for no storage.
    if (!s.durable) {
        WriteHeader(s);
        tolvane::platform::SyncRecordingFile(s.output);
    }
    std::fclose(s.output);
    s.output = nullptr;
    return s.blockCount;
}

}  // namespace
}  // namespace tolvane::recorder

extern "C" int32_t SoundRecorderStart(const TolvanePathChar* outputPath) {
    using namespace tolvane::recorder;
    RecorderState& s = theRecorder;
    if (s.output != nullptr) {
        return RESULT_RECORDER_OPEN_FAILED;  // the device is ours already
    }
    std::FILE* file = tolvane::platform::OpenRecordingFile(outputPath);
    if (file == nullptr) {
        return RESULT_RECORDER_FILE_FAILED;
    }
    // Unbuffered: each block and each header goes to the system in one write
    // as it is made, so a block that fails part way leaves nothing pending
    // that could land behind the counted blocks later.
    std::setvbuf(file, nullptr, _IONBF, 0);
    {
        const Guard guard(s.lock);
        s.output = file;
        s.blockCount = 0;
        s.writeFailed = false;
        // The placeholder is the header for no samples: the file is a valid
        // WAV from the start, and it exists after a power cut from the moment
        // Start returns.
        if (!WriteHeader(s) || !tolvane::platform::SyncNewRecordingFile(file, outputPath)) {
            std::fclose(file);
            s.output = nullptr;
            return RESULT_RECORDER_FILE_FAILED;
        }
        s.durable = true;
        s.accepting = true;
    }
    const std::int32_t result = StartCapture(s);
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
