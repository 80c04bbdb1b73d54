#include "capture_log.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

bool CaptureLog::WaitForData(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return dataBytes.size() >= count; });
}

std::size_t CaptureLog::DataCount() {
    const std::lock_guard<std::mutex> lock(mutex);
    return dataBytes.size();
}

std::size_t CaptureLog::MessageCount() {
    const std::lock_guard<std::mutex> lock(mutex);
    return messages.size();
}

void LogWaveInMessage(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    auto& log = *reinterpret_cast<CaptureLog*>(instance);
    auto* header = reinterpret_cast<WAVEHDR*>(param1);
    {
        const std::lock_guard<std::mutex> lock(log.mutex);
        log.messages.push_back(message);
        log.threads.push_back(std::this_thread::get_id());
        if (message == WIM_DATA) {
            log.dataHeaders.push_back(header);
            log.dataBytes.push_back(header->dwBytesRecorded);
            log.dataFlags.push_back(header->dwFlags);
            // The device delivers WAV's byte order, least significant first,
            // whatever the host's.
            const auto* bytes = reinterpret_cast<const unsigned char*>(header->lpData);
            for (DWORD i = 0; i + 1 < header->dwBytesRecorded; i += 2) {
                log.samples.push_back(static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
            }
        }
    }
    if (message == WIM_DATA && log.requeue) {
        std::this_thread::sleep_for(std::chrono::milliseconds(log.requeueDelayMs.load()));
        const MMRESULT result = waveInAddBuffer(device, header, sizeof(WAVEHDR));
        const std::lock_guard<std::mutex> lock(log.mutex);
        log.requeueResults.push_back(result);
    }
    log.changed.notify_all();
}

WAVEFORMATEX CaptureFormat() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nAvgBytesPerSec = 16000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    return format;
}

MMRESULT OpenLogged(HWAVEIN* device, CaptureLog& log) {
    const WAVEFORMATEX format = CaptureFormat();
    return waveInOpen(device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&LogWaveInMessage),
                      reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION);
}

void Prepare(HWAVEIN device, PreparedBuffer& buffer, std::size_t bytes) {
    buffer.storage.assign(bytes, '\0');
    buffer.header = WAVEHDR{};
    buffer.header.lpData = buffer.storage.data();
    buffer.header.dwBufferLength = static_cast<DWORD>(bytes);
    ASSERT_EQ(waveInPrepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
}

std::size_t ThreadCount() {
    // A sanitizer's helper thread starts with the process's first other
    // thread; have it running before anything is counted.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    static_cast<void>(warmedUp);
    const auto count = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
        return n;
    };
    // A joined thread may still be on its way out: under qemu-user, join
    // returns before the emulator's own thread for it has ended. Take the
    // count once it holds still; a thread left running still counts.
    std::size_t now = count();
    for (int tries = 0, steady = 0; tries < 200 && steady < 5; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::size_t again = count();
        steady = again == now ? steady + 1 : 0;
        now = again;
    }
    return now;
}

std::string UsePrivateAlsaHome(const std::string& asoundrc) {
    char pattern[] = "/tmp/tolvane-alsa-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) return {};
    std::string text = asoundrc;
    for (auto at = text.find("@HOME@"); at != std::string::npos; at = text.find("@HOME@", at)) {
        text.replace(at, 6, dir);
    }
    std::ofstream(std::string(dir) + "/.asoundrc") << text;
    setenv("HOME", dir, 1);
    return dir;
}

void RemoveDirectory(const std::string& dir) {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

#if defined(__SANITIZE_THREAD__)
// PulseAudio's client library is not built for ThreadSanitizer: it hands its
// own mutexes between its threads through atomics the tool cannot see, which
// shows as races on those mutexes inside the library.
// (Visible, or the tool's run-time library does not find it.)
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "race:libpulse*.so\n";
}
#endif
