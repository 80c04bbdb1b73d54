#include "platform/standard_output.h"

#include <stdio.h>

namespace tolvane::platform {

void PrintLine(const char* line) {
    // msvcrt's own streams, reached through what msvcrt.dll exports on every
    // Windows: the headers' `stdout` goes through __acrt_iob_func, which
    // only the newer runtimes have.
    FILE* const out = &__iob_func()[1];
    fputs(line, out);
    fflush(out);
}

}  // namespace tolvane::platform
