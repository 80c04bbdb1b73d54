#include "stop_request.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

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

}  // namespace tolvane::cli
