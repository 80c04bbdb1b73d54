#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "stop_request.h"
#include "utf16_args.h"

namespace tolvane::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The device hands over each second a little after it has passed; a timed
// recording waits this much longer so that its last second is in the file.
constexpr auto kLastSecondGrace = std::chrono::milliseconds(500);
// How often the elapsed time shown on a terminal is brought up to date.
constexpr auto kDisplayTick = std::chrono::milliseconds(200);

int UsageError(const char* message) {
    std::fprintf(stderr, "tolvane record: %s\n", message);
    PrintUsage(stderr);
    return kExitUsage;
}

// A whole number of seconds from 1 up.
bool ParseSeconds(const char* text, long& seconds) {
    char* end = nullptr;
    errno = 0;
    seconds = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && seconds >= 1 && seconds <= INT32_MAX;
}

void ReportFailure(std::int32_t result, const char* path) {
    switch (result) {
        case RESULT_RECORDER_OPEN_FAILED:
            std::fputs("tolvane record: no capture device could be opened with 8000 Hz 16-bit mono "
                       "(or a recording is already running)\n",
                       stderr);
            break;
        case RESULT_RECORDER_QUEUE_FAILED:
            std::fputs("tolvane record: the capture device would not take the capture buffer\n", stderr);
            break;
        case RESULT_RECORDER_START_FAILED:
            std::fputs("tolvane record: the capture device would not start capturing\n", stderr);
            break;
        case RESULT_RECORDER_FILE_FAILED:
            std::fprintf(stderr, "tolvane record: cannot create %s\n", path);
            break;
        default:
            std::fprintf(stderr, "tolvane record: recording failed (result %d)\n", static_cast<int>(result));
            break;
    }
}

// Waits until `seconds` have passed (0: no limit) or a stop is requested,
// showing the elapsed time on a terminal.
void WaitForEnd(long seconds) {
    const bool showTime = StderrIsTerminal();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(seconds) + kLastSecondGrace;
    long shown = -1;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - start).count());
        if (showTime && elapsed != shown) {
            shown = elapsed;
            std::fprintf(stderr, "\rRecording %ld:%02ld  (Ctrl-C stops)", elapsed / 60, elapsed % 60);
        }
        if (seconds > 0 && now >= end) {
            break;
        }
        auto wait = kDisplayTick;
        if (seconds > 0 && end - now < wait) {
            // Rounded up, so that the last wait does not end just short.
            wait = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        }
        if (WaitForStopRequest(wait)) {
            break;
        }
    }
    if (showTime) {
        std::fputc('\n', stderr);
    }
}

}  // namespace

int RunRecord(int argc, char** argv) {
    const char* path = nullptr;
    long seconds = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            if (i + 1 == argc || !ParseSeconds(argv[++i], seconds)) {
                return UsageError("--seconds takes a whole number of seconds, 1 or more");
            }
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return UsageError("expects one output path");
        }
    }
    if (path == nullptr) {
        return UsageError("expects an output path");
    }
    Utf16Path output;
    if (!Utf8ToUtf16(path, output)) {
        std::fprintf(stderr, "tolvane record: path is not valid UTF-8: %s\n", path);
        return kExitUsage;
    }

    // Ctrl-C (and SIGTERM) ends the recording; caught before the library
    // starts its capture thread.
    CatchStopRequests();
    const std::int32_t result = SoundRecorderStart(output.c_str());
    if (result != RESULT_OK) {
        ReportFailure(result, path);
        return 1;
    }
    WaitForEnd(seconds);
    const std::int32_t recorded = SoundRecorderStop();
    std::printf("Recorded %d second%s to %s\n", static_cast<int>(recorded), recorded == 1 ? "" : "s", path);
    return 0;
}

}  // namespace tolvane::cli
