// `tolvane stretch IN OUT` as the end-to-end tests run it.
#pragma once

#include <string>

#include "files.h"

namespace tolvane::test {

// The line the library prints when a conversion succeeds.
inline const std::string kDone = "Time stretch effect applied and saved to output.wav\n";

// The two-path form, run as its own process with `stdinBytes` on its input.
RunResult Stretch(const std::string& in, const std::string& out, const std::string& stdinBytes = {});

}  // namespace tolvane::test
