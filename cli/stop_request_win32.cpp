#include "stop_request.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace tolvane::cli {
namespace {

HANDLE stopEvent = nullptr;

// Runs on a thread of the console's; it only signals the waiting thread.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    SetEvent(stopEvent);
    return TRUE;
}

}  // namespace

void CatchStopRequests() {
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool WaitForStopRequest(std::chrono::milliseconds timeout) {
    return WaitForSingleObject(stopEvent, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

// Windows has no SIGPIPE: such writes already just fail.
void IgnoreBrokenPipes() {}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace tolvane::cli
