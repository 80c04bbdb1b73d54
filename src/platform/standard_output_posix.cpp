#include "platform/standard_output.h"

#include <stdio.h>

namespace tolvane::platform {

void PrintLine(const char* line) {
    fputs(line, stdout);
    fflush(stdout);
}

}  // namespace tolvane::platform
