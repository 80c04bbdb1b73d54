#include <cstdio>

#include "batch.h"
#include "commands.h"
#include "utf16_args.h"

namespace tolvane::cli {

int RunStretch(int argc, char** argv) {
    // IN OUT; anything else (many inputs, -o DIR, -j N, --files-from) is the
    // batch form, which also says what is wrong with a bad command line.
    if (argc != 2 || IsBatchOption(argv[0]) || IsBatchOption(argv[1])) {
        return RunBatch(argc, argv);
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
