// The environment a recording host runs in under these tests.
#pragma once

#include <string>
#include <vector>

namespace tolvane::test {

// `env` (NAME=VALUE entries for RunningProgram) plus what a host built with
// ThreadSanitizer needs to load the PulseAudio client library: the tool
// cannot see how that library hands its mutexes between its threads.
std::vector<std::string> HostEnvironment(std::vector<std::string> env);

}  // namespace tolvane::test
