// The host program's subcommands. Each takes the arguments after its name and
// returns the process exit status.
#pragma once

#include <cstdio>

namespace tolvane::cli {

// Exit status for arguments that are not valid.
constexpr int kExitUsage = 2;

int RunStretch(int argc, char** argv);
int RunRecord(int argc, char** argv);

// Prints the usage text to `stream` (stdout for --help, stderr for errors).
void PrintUsage(std::FILE* stream);

}  // namespace tolvane::cli
