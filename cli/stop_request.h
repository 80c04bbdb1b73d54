// Ctrl-C and termination requests for a command that runs until told to stop.
// They are only noted, never acted on in a handler: the waiting thread then
// stops what it runs, so the library is only ever called from that thread.
#pragma once

#include <chrono>

namespace tolvane::cli {

// Starts catching the requests. Call before the library starts threads of its
// own, so that they are caught there too.
void CatchStopRequests();

// Waits up to `timeout` for a request; true when one has come.
bool WaitForStopRequest(std::chrono::milliseconds timeout);

// Lets writes to a closed pipe fail instead of ending the process, which
// could otherwise stop with a file half written.
void IgnoreBrokenPipes();

// Whether standard error is a terminal, where progress may be shown.
bool StderrIsTerminal();

}  // namespace tolvane::cli
