#include <cstdio>

#include "commands.h"
#include "utf16_args.h"

namespace tolvane::cli {

int RunStretch(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("tolvane stretch: expects an input and an output path\n", stderr);
        PrintUsage(stderr);
        return kExitUsage;
    }
    Utf16Path input;
    Utf16Path output;
    for (int i = 0; i < 2; ++i) {
        if (!Utf8ToUtf16(argv[i], i == 0 ? input : output)) {
            std::fprintf(stderr, "tolvane stretch: path is not valid UTF-8: %s\n", argv[i]);
            return kExitUsage;
        }
    }
    // The library prints its own line on standard output.
    return WAVStrech(input.c_str(), output.c_str()) == RESULT_OK ? 0 : 1;
}

}  // namespace tolvane::cli
