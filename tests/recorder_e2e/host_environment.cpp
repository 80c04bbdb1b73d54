#include "host_environment.h"

#include <cstdlib>

namespace tolvane::test {

std::vector<std::string> HostEnvironment(std::vector<std::string> env) {
#if defined(__SANITIZE_THREAD__)
    // The host is built like this program; keep the options the run was given.
    const char* options = std::getenv("TSAN_OPTIONS");
    env.push_back(std::string("TSAN_OPTIONS=") + (options != nullptr ? options : "") +
                  ":suppressions=" TSAN_PULSE_SUPPRESSIONS);
#endif
    return env;
}

}  // namespace tolvane::test
