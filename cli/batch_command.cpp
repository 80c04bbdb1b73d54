// Runs the batch form: worker threads take the inputs in turn, the main
// thread shows progress and watches for stop requests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "platform.h"
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

// Standard error from any thread, each line whole, and on a terminal one
// progress line kept below everything else. When standard output is a
// terminal too, the library's lines are passed on through a pipe, so that
// each can be put above the progress line instead of being run into it: only
// this program knows where that line is.
struct Console {
    std::mutex mutex;
    bool progress;
    std::string text;        // what the progress line says
    std::size_t width = 0;   // how much of the screen line it covers; 0: not shown
    bool lineOpen = false;   // standard output stopped inside a line
    int terminal = -1;       // standard output as it was, when relayed
    int pipe = -1;           // the read end of the pipe it is meanwhile
    std::thread relay;

    // Made before the worker threads start.
    explicit Console(bool terminalProgress) : progress(terminalProgress) {
        int fds[2];
        if (!progress || ::isatty(1) == 0 || !MakePipe(fds)) {
            return;
        }
        std::fflush(stdout);
        terminal = ::dup(1);
        if (terminal >= 0) {
            ::dup2(fds[1], 1);
        }
        ::close(fds[1]);  // standard output is now the only write end
        pipe = fds[0];
        relay = std::thread([this] {
            char buffer[4096];
            for (long got; (got = ::read(pipe, buffer, sizeof buffer)) > 0;) {
                const std::lock_guard<std::mutex> lock(mutex);
                Erase();
                for (long n, done = 0; done < got; done += n) {
                    if ((n = ::write(terminal, buffer + done, static_cast<unsigned>(got - done))) <= 0) {
                        break;
                    }
                }
                lineOpen = buffer[got - 1] != '\n';
                Draw();
            }
        });
    }

    void Erase() {  // with the mutex held
        if (width > 0) {
            std::fprintf(stderr, "\r%*s\r", static_cast<int>(width), "");
            width = 0;
        }
    }

    void Draw() {  // with the mutex held
        if (!progress || lineOpen || text.empty()) {
            return;
        }
        // Written over the old line, padded where the new one is shorter.
        const std::size_t pad = width > text.size() ? width - text.size() : 0;
        std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
        width = text.size() + pad;
    }

    void ShowProgress(const std::string& line) {
        const std::lock_guard<std::mutex> lock(mutex);
        text = line;
        Draw();
    }

    void PrintLine(const std::string& line) {
        const std::lock_guard<std::mutex> lock(mutex);
        Erase();
        std::fprintf(stderr, "%s\n", line.c_str());
        Draw();
    }

    // Once the workers are done: the progress line goes for good.
    void Finish() {
        if (relay.joinable()) {
            // Standard output goes back to the terminal, which closes the
            // pipe's last write end: the relay passes on what is left and stops.
            std::fflush(stdout);
            ::dup2(terminal, 1);
            relay.join();
            ::close(pipe);
            ::close(terminal);
        }
        const std::lock_guard<std::mutex> lock(mutex);
        Erase();
        progress = false;
    }
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

}  // namespace

int RunBatch(int argc, char** argv) {
    BatchRequest request;
    std::vector<BatchJob> jobs;
    if (ParseBatchArguments(argc, argv, request) != 0 || PlanBatch(request, jobs) != 0) {
        return kExitUsage;
    }
    const unsigned threads = request.jobs > 0 ? request.jobs : std::max(1u, std::thread::hardware_concurrency());

    // A closed standard output (`| head`) must not end the process halfway
    // through writing a file; and stop requests are caught before any thread
    // starts, so that every thread leaves them to the main one.
    IgnoreBrokenPipes();
    CatchStopRequests();
    Console console(StderrIsTerminal());
    const std::size_t total = jobs.size();
    std::atomic<std::size_t> next{0}, done{0}, failed{0};
    std::atomic<std::uint64_t> bytes{0};  // input bytes converted
    std::atomic<bool> stopped{false};
    const auto work = [&] {
        while (!stopped) {
            const std::size_t i = next++;
            if (i >= total) {
                break;
            }
            const BatchJob& job = jobs[i];
            // The library prints its own line on standard output.
            if (WAVStrech(job.input16.c_str(), job.output16.c_str()) == RESULT_OK) {
                bytes += job.bytes;
            } else {
                ++failed;
                console.PrintLine("tolvane stretch: could not convert " + job.input + " into " + job.output);
            }
            ++done;
        }
    };
    const Clock::time_point start = Clock::now();
    std::vector<std::future<void>> workers;
    try {
        while (workers.size() < std::min<std::size_t>(threads, total)) {
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
                const double elapsed = Seconds(now - start);
                const std::size_t finished = done;
                const double rate = elapsed > 0 ? static_cast<double>(bytes) / 1e6 / elapsed : 0;
                const std::string left = finished > 0 ? ClockText(elapsed * static_cast<double>(total - finished) /
                                                                  static_cast<double>(finished))
                                                      : "-:--";
                char text[160];
                std::snprintf(text, sizeof text, "%zu/%zu files, %zu failed, %.1f MB/s, %s elapsed, %s left", finished,
                              total, failed.load(), rate, ClockText(elapsed).c_str(), left.c_str());
                console.ShowProgress(text);
            }
        }
    }
    console.Finish();
    const double elapsed = Seconds(Clock::now() - start);
    const double megabytes = static_cast<double>(bytes) / 1e6;
    const std::size_t converted = done - failed;
    if (stopped) {
        std::fprintf(stderr, "Stopped: converted %zu of %zu file%s (%.1f MB) in %.2f s, %zu failed, %zu not started\n",
                     converted, total, total == 1 ? "" : "s", megabytes, elapsed, failed.load(), total - done);
        return kExitStopped;
    }
    std::fprintf(stderr, "Converted %zu file%s (%.1f MB) in %.2f s, %zu failed\n", converted,
                 converted == 1 ? "" : "s", megabytes, elapsed, failed.load());
    return failed > 0 ? 1 : 0;
}

}  // namespace tolvane::cli
