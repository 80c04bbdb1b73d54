#include "stretch_call.h"

namespace tolvane::test {

RunResult Stretch(const std::string& in, const std::string& out) { return RunProgram({TOLVANE_CLI, "stretch", in, out}); }

}  // namespace tolvane::test
