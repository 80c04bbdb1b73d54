// tolvane: the command-line host for the TolvaneWAVTimeStretch library.
#include <cstdio>
#include <cstring>

#include <string>
#include <vector>

#include "commands.h"
#include "tolvane_version.h"
#include "utf16_args.h"

int main(int rawArgc, char** rawArgv) {
    using namespace tolvane::cli;
    std::vector<std::string> arguments = Utf8Arguments(rawArgc, rawArgv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());
    char** argv = pointers.data();
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("tolvane %s\n", TOLVANE_VERSION_STRING);
        return 0;
    }
    if (std::strcmp(command, "stretch") == 0) {
        return RunStretch(argc - 2, argv + 2);
    }
    if (std::strcmp(command, "record") == 0) {
        return RunRecord(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "tolvane: unknown command '%s'\n", command);
    PrintUsage(stderr);
    return kExitUsage;
}
