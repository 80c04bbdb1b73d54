// Files, scratch directories and child processes for the tests.
#pragma once

#include <string>
#include <vector>

#include "wav_bytes.h"

namespace tolvane::test {

// A fresh directory, removed with its contents when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);

// What a child process did.
struct RunResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] a path) with `stdinBytes` on its standard input and
// collects its output. `env` entries (NAME=VALUE) are added to the
// environment.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& stdinBytes = {},
              const std::vector<std::string>& env = {});

}  // namespace tolvane::test
