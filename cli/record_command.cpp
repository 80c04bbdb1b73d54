#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "recording_monitor.h"
#include "recording_trim.h"
#include "stop_request.h"
#include "utf16_args.h"

namespace tolvane::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Capture has stopped (the audio server went away, the device was pulled,
// the disk is full) when no new second has reached the file for this long.
// The library holds ten seconds of sound while storage stalls, and a stall
// it absorbs must not end the recording: so this is more than ten seconds.
constexpr auto kCaptureStall = std::chrono::seconds(12);
// How often the file is looked at: often enough for a live meter on a
// terminal; otherwise once a second, when a new second may have landed.
constexpr auto kMeterTick = std::chrono::milliseconds(100);
constexpr auto kQuietTick = std::chrono::milliseconds(1000);
// Only when the file cannot be read back is a timed recording ended by the
// clock: the device hands over each second a little after it has passed, so
// it waits this much longer for the last one.
constexpr auto kLastSecondGrace = std::chrono::milliseconds(500);

enum class Ending { kLengthReached, kStopRequested, kCaptureStopped };

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
            std::fputs("tolvane record: the capture device would not take a capture buffer\n", stderr);
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

// The status line on a terminal, rewritten in place.
class StatusDisplay {
public:
    explicit StatusDisplay(bool shown) : shown_(shown) {}

    void Show(const std::string& line) {
        if (!shown_ || line == last_) return;
        // Padded over what a longer line before it left behind.
        const std::size_t pad = last_.size() > line.size() ? last_.size() - line.size() : 0;
        std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
        last_ = line;
    }

    void End() {
        if (shown_ && !last_.empty()) std::fputc('\n', stderr);
    }

private:
    bool shown_;
    std::string last_;
};

// Waits until `seconds` are saved (0: no limit), a stop is requested or
// capture stops, showing the status line on a terminal.
Ending WaitForEnd(long seconds, RecordingMonitor& monitor, const char* path) {
    const bool terminal = StderrIsTerminal();
    StatusDisplay display(terminal);
    if (terminal) std::fprintf(stderr, "Recording to %s (Ctrl-C stops)\n", path);
    const auto tick = terminal ? kMeterTick : kQuietTick;
    const Clock::time_point start = Clock::now();
    const Clock::time_point timeUp = start + std::chrono::seconds(seconds) + kLastSecondGrace;
    Clock::time_point lastSecond = start;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const bool watching = monitor.IsOpen();
        if (watching && monitor.Update()) lastSecond = now;
        if (watching) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
            display.Show(StatusLine(static_cast<std::int64_t>(elapsed), monitor.levels()));
        }
        const bool lengthReached =
            seconds > 0 && (watching ? monitor.levels().savedSeconds >= static_cast<std::uint32_t>(seconds)
                                     : now >= timeUp);
        const bool stalled = watching && now - lastSecond >= kCaptureStall;
        if (lengthReached || stalled) {
            display.End();
            return lengthReached ? Ending::kLengthReached : Ending::kCaptureStopped;
        }
        if (WaitForStopRequest(tick)) {
            display.End();
            return Ending::kStopRequested;
        }
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
    // Read back from the file the library writes, so that what is shown is
    // what is saved; without it there is no meter and no stall check.
    RecordingMonitor monitor;
    if (!monitor.Open(path, output)) {
        std::fprintf(stderr,
                     "tolvane record: cannot read %s back: recording without a level meter "
                     "or a check that capture goes on\n",
                     path);
    }
    const Clock::time_point started = Clock::now();
    const Ending ending = WaitForEnd(seconds, monitor, path);
    const std::chrono::duration<double> ran = Clock::now() - started;
    // Writes every whole second captured so far, waiting for storage.
    const std::int32_t saved = SoundRecorderStop();
    std::int32_t recorded = saved;
    bool trimFailed = false;
    // A file that filled later than the seconds passed (storage lagging)
    // got more whole seconds at Stop than were asked for.
    if (seconds > 0 && recorded > seconds) {
        bool headerCounts = false;
        trimFailed = !TrimRecording(path, output, static_cast<std::uint32_t>(seconds), headerCounts);
        // What is printed is what the header counts.
        if (headerCounts) recorded = static_cast<std::int32_t>(seconds);
        if (trimFailed) std::fprintf(stderr, "tolvane record: cannot cut %s back to %ld seconds\n", path, seconds);
    }
    std::printf("Recorded %d second%s to %s\n", static_cast<int>(recorded), recorded == 1 ? "" : "s", path);
    std::fflush(stdout);
    if (ending == Ending::kCaptureStopped) {
        std::fprintf(stderr, "tolvane record: capture stopped after %d second%s: nothing new reached %s for %d s\n",
                     static_cast<int>(recorded), recorded == 1 ? "" : "s", path,
                     static_cast<int>(kCaptureStall.count()));
        return 1;
    }
    // The library keeps no count of what it could not capture; the clock
    // tells. Only what Stop saved counts, before any cut.
    const AudioLoss loss = EstimateAudioLoss(ran.count(), static_cast<std::uint32_t>(saved < 0 ? 0 : saved));
    if (loss.lost) {
        std::fprintf(stderr,
                     "tolvane record: audio lost: %s holds %d s of the %.1f s recorded; between %.1f and %.1f s "
                     "of sound are missing (the device was not read in time, or storage stalled for longer than "
                     "the recorder can hold)\n",
                     path, static_cast<int>(saved), ran.count(), loss.leastSeconds, loss.mostSeconds);
        return 1;
    }
    // Only a stop request may end a timed recording short.
    return trimFailed || (ending != Ending::kStopRequested && recorded < seconds) ? 1 : 0;
}

}  // namespace tolvane::cli
