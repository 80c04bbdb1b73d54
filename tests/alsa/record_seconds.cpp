// Records ALSA's "default" input for a number of seconds the way the recorder
// does (one 16000-byte buffer, queued again from the handler) and prints what
// arrived and how long Stop and Close took. For measure_recording.sh.
//
// Usage: record_seconds SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "capture_log.h"

int main(int argc, char** argv) {
    const int seconds = argc == 2 ? std::atoi(argv[1]) : 0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s SECONDS\n", argv[0]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };

    CaptureLog log;
    HWAVEIN device = nullptr;
    if (OpenLogged(&device, log) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "cannot open the default capture device\n");
        return 1;
    }
    std::vector<char> storage(16000);
    WAVEHDR header{};
    header.lpData = storage.data();
    header.dwBufferLength = 16000;
    log.requeue = true;
    const auto begin = Clock::now();
    if (waveInPrepareHeader(device, &header, sizeof header) != MMSYSERR_NOERROR ||
        waveInAddBuffer(device, &header, sizeof header) != MMSYSERR_NOERROR || waveInStart(device) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "cannot start capturing\n");
        return 1;
    }
    log.WaitForData(static_cast<std::size_t>(seconds), std::chrono::seconds(seconds + 10));
    const auto full = Clock::now();
    // Stop in the middle of a buffer, as a host would.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    log.requeue = false;
    const auto stopAt = Clock::now();
    waveInStop(device);
    const auto resetAt = Clock::now();
    waveInReset(device);
    waveInUnprepareHeader(device, &header, sizeof header);
    const auto closeAt = Clock::now();
    const MMRESULT closed = waveInClose(device);
    const auto end = Clock::now();

    std::printf("buffers %zu, samples %zu, %s\n", log.dataBytes.size(), log.samples.size(),
                IsContiguousRamp(log.samples) ? "one contiguous ramp" : IsContiguousRamp(log.samples).message());
    std::printf("%d full buffers after %.0f ms\n", seconds, ms(full - begin));
    std::printf("stop %.2f ms, reset %.2f ms, close %.2f ms (result %u)\n", ms(resetAt - stopAt), ms(closeAt - resetAt),
                ms(end - closeAt), closed);
    return closed == MMSYSERR_NOERROR ? 0 : 1;
}
