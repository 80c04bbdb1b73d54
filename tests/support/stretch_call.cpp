#include "stretch_call.h"

namespace tolvane::test {

RunResult Stretch(const std::string& in, const std::string& out, const std::string& stdinBytes) {
    return RunProgram({TOLVANE_CLI, "stretch", in, out}, stdinBytes);
}

}  // namespace tolvane::test
