// The tolvane program's platform layer on POSIX systems.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"
#include "stop_request.h"

namespace tolvane::cli {
namespace {

sigset_t stopSignals;

}  // namespace

// SIGINT and SIGTERM are blocked in every thread (threads started later
// inherit the mask) and taken with sigtimedwait, so no handler ever runs.
void CatchStopRequests() {
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

bool WaitForStopRequest(std::chrono::milliseconds timeout) {
    const long ms = static_cast<long>(timeout.count());
    const timespec wait{static_cast<time_t>(ms / 1000), (ms % 1000) * 1000000L};
    return ::sigtimedwait(&stopSignals, nullptr, &wait) > 0;
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

FileFacts FactsOf(const std::string& utf8, const Utf16Path&) {
    FileFacts facts;
    struct stat info {};
    if (::stat(utf8.c_str(), &info) != 0) {
        return facts;
    }
    facts.exists = true;
    facts.directory = S_ISDIR(info.st_mode);
    facts.volume = static_cast<std::uint64_t>(info.st_dev);
    facts.index = static_cast<std::uint64_t>(info.st_ino);
    facts.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    return facts;
}

Utf16Path FileNameKey(const Utf16Path& path) { return path; }

char SeparatorFor(const std::string&) { return '/'; }

bool MakePipe(int fds[2]) { return ::pipe(fds) == 0; }

}  // namespace tolvane::cli
