// The host process's standard output, where the converter reports.
#pragma once

namespace tolvane::platform {

// Writes `line` to the C runtime's standard output stream, the one the host
// prints to as well, and flushes it, so that the two keep their order.
void PrintLine(const char* line);

}  // namespace tolvane::platform
