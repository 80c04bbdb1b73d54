// Runs the batch form: worker threads take the inputs in turn, the main
// thread shows progress and watches for stop requests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "batch.h"
#include "batch_console.h"
#include "stop_request.h"

namespace tolvane::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Exit status when stopped by Ctrl-C or SIGTERM, as a shell reports SIGINT.
constexpr int kExitStopped = 130;
// How often the progress line may change: at most ten times a second.
constexpr auto kProgressTick = std::chrono::milliseconds(100);
// How long a stop request may wait to be noticed; the end of the work is
// noticed at once.
constexpr auto kStopPoll = std::chrono::milliseconds(20);

struct Tally {
    std::size_t total = 0;
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> failed{0};
    std::atomic<std::uint64_t> bytes{0};  // input bytes converted
};

std::string ClockText(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Megabytes(const Tally& tally) { return static_cast<double>(tally.bytes.load()) / 1e6; }

std::string ProgressText(const Tally& tally, double elapsed) {
    const std::size_t done = tally.done.load();
    const double rate = elapsed > 0 ? Megabytes(tally) / elapsed : 0;
    const std::string left = done > 0 ? ClockText(elapsed * static_cast<double>(tally.total - done) /
                                                  static_cast<double>(done))
                                      : "-:--";
    char text[160];
    std::snprintf(text, sizeof text, "%zu/%zu files, %zu failed, %.1f MB/s, %s elapsed, %s left", done,
                  tally.total, tally.failed.load(), rate, ClockText(elapsed).c_str(), left.c_str());
    return text;
}

std::string SummaryText(const Tally& tally, double elapsed, bool stopped) {
    const std::size_t done = tally.done.load();
    const std::size_t converted = done - tally.failed.load();
    char text[200];
    if (stopped) {
        std::snprintf(text, sizeof text,
                      "Stopped: converted %zu of %zu file%s (%.1f MB) in %.2f s, %zu failed, %zu not started",
                      converted, tally.total, tally.total == 1 ? "" : "s", Megabytes(tally), elapsed,
                      tally.failed.load(), tally.total - done);
    } else {
        std::snprintf(text, sizeof text, "Converted %zu file%s (%.1f MB) in %.2f s, %zu failed", converted,
                      converted == 1 ? "" : "s", Megabytes(tally), elapsed, tally.failed.load());
    }
    return text;
}

}  // namespace

int RunBatch(int argc, char** argv) {
    BatchRequest request;
    std::vector<BatchJob> jobs;
    if (const int status = ParseBatchArguments(argc, argv, request)) {
        return status;
    }
    if (const int status = PlanBatch(request, jobs)) {
        return status;
    }
    const unsigned threads = request.jobs > 0 ? request.jobs : std::max(1u, std::thread::hardware_concurrency());

    // A closed standard output (`| head`) must not end the process halfway
    // through writing a file; and stop requests are caught before any thread
    // starts, so that every thread leaves them to the main one.
    IgnoreBrokenPipes();
    CatchStopRequests();
    BatchConsole console(StderrIsTerminal());
    Tally tally;
    tally.total = jobs.size();
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    const auto work = [&] {
        while (!stopped) {
            const std::size_t i = next++;
            if (i >= jobs.size()) {
                break;
            }
            const BatchJob& job = jobs[i];
            // The library prints its own line on standard output.
            if (WAVStrech(job.input16.c_str(), job.output16.c_str()) == RESULT_OK) {
                tally.bytes += job.bytes;
            } else {
                ++tally.failed;
                console.PrintLine("tolvane stretch: could not convert " + job.input + " into " + job.output);
            }
            ++tally.done;
        }
    };
    const Clock::time_point start = Clock::now();
    std::vector<std::future<void>> workers;
    try {
        while (workers.size() < std::min<std::size_t>(threads, jobs.size())) {
            workers.push_back(std::async(std::launch::async, work));
        }
    } catch (const std::system_error&) {
        // The system would give no more threads: those there are share the
        // files, or this one does them alone.
    }
    if (workers.empty()) {
        work();
    }
    Clock::time_point shown = start - kProgressTick;
    for (std::future<void>& worker : workers) {
        while (worker.wait_for(kStopPoll) != std::future_status::ready) {
            // Files under way are finished; no new one is started.
            if (!stopped && WaitForStopRequest(std::chrono::milliseconds(0))) {
                stopped = true;
            }
            const Clock::time_point now = Clock::now();
            if (now - shown >= kProgressTick) {
                shown = now;
                console.ShowProgress(ProgressText(tally, Seconds(now - start)));
            }
        }
    }
    console.Finish();
    std::fprintf(stderr, "%s\n", SummaryText(tally, Seconds(Clock::now() - start), stopped).c_str());
    if (stopped) {
        return kExitStopped;
    }
    return tally.failed.load() > 0 ? 1 : 0;
}

}  // namespace tolvane::cli
