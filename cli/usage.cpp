// The program's usage text. It is built with the argument reading
// (tolvane_batch_plan), which prints it for a bad command line.
#include <cstdio>

#include "commands.h"

namespace tolvane::cli {

void PrintUsage(std::FILE* stream) {
    std::fputs(
        "usage: tolvane stretch IN.wav OUT.wav\n"
        "       tolvane stretch IN.wav... -o DIR [-j N]\n"
        "       tolvane stretch --files-from LIST -o DIR [-j N]\n"
        "       tolvane record OUT.wav [--seconds N] [--split DURATION] [--log FILE]\n"
        "                      [--keep-free SIZE]\n"
        "       tolvane --help | --version\n"
        "\n"
        "  stretch   keep every fifth sample of each 4096-sample block of IN.wav\n"
        "            (16-bit mono, taken as 8000 Hz) and write OUT.wav at 1600 Hz.\n"
        "            With -o (--output-dir) DIR, convert each input to DIR/<its\n"
        "            file name>; --files-from LIST reads more inputs, one a line\n"
        "            (- for standard input); -j (--jobs) N converts N files at once\n"
        "            (default: one per processor). A failed file does not stop the\n"
        "            others; Ctrl-C or SIGTERM finishes the files under way, starts\n"
        "            no more and exits with status 130.\n"
        "  record    record the default audio input (8000 Hz, 16-bit, mono) into\n"
        "            OUT.wav until N seconds are saved or until Ctrl-C or SIGTERM,\n"
        "            then print the whole seconds recorded. The file is a valid WAV\n"
        "            throughout; a part-filled last second is dropped. On a\n"
        "            terminal it shows the seconds saved, the peak level of the\n"
        "            last one and the samples clipped so far. When no new second\n"
        "            arrives for 12 s, capture has stopped: the recording ends with\n"
        "            status 1, as does one that lost sound on the way (said on\n"
        "            standard error) or ends short of N seconds other than by\n"
        "            Ctrl-C or SIGTERM.\n"
        "            --split 15m starts a new file every 15 minutes of sound, without\n"
        "            a gap (without it, every 134200 s, under 2 GiB). OUT.wav is a\n"
        "            pattern: %Y %m %d %H %M %S ... give the UTC time of a file's first\n"
        "            sample, %N its number; a taken name gets -2, -3. Each file is\n"
        "            written as OUT.wav.part and renamed once finished; .part files an\n"
        "            earlier run left are renamed at the start. --log FILE appends a\n"
        "            JSON line per file. A full disk (or less free than --keep-free)\n"
        "            ends the recording at once with status 1.\n"
        "\n"
        "Exit status 0 on success, 1 on failure, 2 for bad arguments.\n",
        stream);
#if !defined(_WIN32)
    // Windows builds install no manual page to point to.
    std::fputs("See tolvane(1) for the details.\n", stream);
#endif
}

}  // namespace tolvane::cli
