// Runs the batch form: worker threads take the inputs in turn, the main
// thread shows progress and watches for stop requests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
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
    std::atomic<std::size_t> next{0};  // the next job to take
    std::atomic<std::size_t> done{0};
    std::atomic<std::size_t> failed{0};
    std::atomic<std::uint64_t> bytes{0};  // input bytes converted
    std::atomic<bool> stop{false};
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

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

double Megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / 1e6; }

std::string ProgressText(const Tally& tally, std::size_t total, double elapsed) {
    const std::size_t done = tally.done.load();
    const double rate = elapsed > 0 ? Megabytes(tally.bytes.load()) / elapsed : 0;
    const std::string left =
        done > 0 ? ClockText(elapsed * static_cast<double>(total - done) / static_cast<double>(done)) : "-:--";
    char text[160];
    std::snprintf(text, sizeof text, "%zu/%zu files, %zu failed, %.1f MB/s, %s elapsed, %s left", done, total,
                  tally.failed.load(), rate, ClockText(elapsed).c_str(), left.c_str());
    return text;
}

std::string SummaryText(const Tally& tally, std::size_t total, double elapsed, bool stopped) {
    const std::size_t done = tally.done.load();
    const std::size_t converted = done - tally.failed.load();
    char text[200];
    if (stopped) {
        std::snprintf(text, sizeof text,
                      "Stopped: converted %zu of %zu file%s (%.1f MB) in %.2f s, %zu failed, %zu not started",
                      converted, total, total == 1 ? "" : "s", Megabytes(tally.bytes.load()), elapsed,
                      tally.failed.load(), total - done);
    } else {
        std::snprintf(text, sizeof text, "Converted %zu file%s (%.1f MB) in %.2f s, %zu failed", converted,
                      converted == 1 ? "" : "s", Megabytes(tally.bytes.load()), elapsed, tally.failed.load());
    }
    return text;
}

}  // namespace

int RunBatchJobs(const std::vector<BatchJob>& jobs, unsigned threads) {
    // A closed standard output (`| head`) must not end the process halfway
    // through writing a file; and stop requests are caught before any thread
    // starts, so that every thread leaves them to the main one.
    IgnoreBrokenPipes();
    CatchStopRequests();
    BatchConsole console(StderrIsTerminal());
    Tally tally;
    const Clock::time_point start = Clock::now();

    std::mutex doneMutex;
    std::condition_variable allDone;
    const std::size_t started = std::min<std::size_t>(threads, jobs.size());
    std::size_t running = started;  // under doneMutex
    auto work = [&] {
        while (!tally.stop.load()) {
            const std::size_t i = tally.next.fetch_add(1);
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
        const std::lock_guard<std::mutex> lock(doneMutex);
        if (--running == 0) {
            allDone.notify_one();
        }
    };
    std::vector<std::thread> workers;
    try {
        while (workers.size() < started) {
            workers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // The system would give no more threads: those there are share the
        // files, or this one does them alone.
        const std::lock_guard<std::mutex> lock(doneMutex);
        running -= started - workers.size();
    }
    if (workers.empty() && started > 0) {
        running = 1;
        work();
    }

    bool stopped = false;
    Clock::time_point shown = start - kProgressTick;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(doneMutex);
            if (allDone.wait_for(lock, kStopPoll, [&] { return running == 0; })) {
                break;
            }
        }
        if (!stopped && WaitForStopRequest(std::chrono::milliseconds(0))) {
            // Files under way are finished; no new one is started.
            stopped = true;
            tally.stop = true;
        }
        const Clock::time_point now = Clock::now();
        if (now - shown >= kProgressTick) {
            shown = now;
            console.ShowProgress(ProgressText(tally, jobs.size(), Seconds(now - start)));
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    console.Finish();
    std::fprintf(stderr, "%s\n", SummaryText(tally, jobs.size(), Seconds(Clock::now() - start), stopped).c_str());
    if (stopped) {
        return kExitStopped;
    }
    return tally.failed.load() > 0 ? 1 : 0;
}

int RunBatch(int argc, char** argv) {
    BatchRequest request;
    if (const int status = ParseBatchArguments(argc, argv, request)) {
        return status;
    }
    unsigned threads = request.jobs;
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
    }
    std::vector<BatchJob> jobs;
    if (const int status = PlanBatch(request, threads, jobs)) {
        return status;
    }
    return RunBatchJobs(jobs, threads);
}

}  // namespace tolvane::cli
