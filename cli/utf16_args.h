// Command-line arguments turned into the UTF-16 paths the library takes.
#pragma once

#include <string>

#include "TolvaneWAVTimeStretch.h"

namespace tolvane::cli {

using Utf16Path = std::basic_string<TolvanePathChar>;

// Decodes a UTF-8 argument. Returns false when it is not valid UTF-8 (such a
// name has no UTF-16 spelling).
bool Utf8ToUtf16(const char* utf8, Utf16Path& out);

}  // namespace tolvane::cli
