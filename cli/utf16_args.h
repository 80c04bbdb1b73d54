// Command-line arguments turned into the UTF-16 paths the library takes.
#pragma once

#include <string>
#include <vector>

#include "TolvaneWAVTimeStretch.h"

namespace tolvane::cli {

using Utf16Path = std::basic_string<TolvanePathChar>;

// Decodes a UTF-8 argument. Returns false when it is not valid UTF-8 (such a
// name has no UTF-16 spelling).
bool Utf8ToUtf16(const char* utf8, Utf16Path& out);

// The program's arguments as UTF-8. On Windows `argv` is in the ANSI code
// page, which cannot spell every file name, so the wide command line is read
// instead; elsewhere `argv` is taken as it is. Defined in platform_*.cpp.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace tolvane::cli
