// Files, scratch directories and child processes for the tests.
#pragma once

#include <sys/types.h>

#include <chrono>
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
    int signal = 0;     // the signal that ended it, 0 when it exited
    bool timedOut = false;  // it outlived its time limit and was killed
    std::string out;
    std::string err;
};

// The command words that run a program of this build, each followed by a
// blank, for a shell command line: the target's emulator when cross-built,
// else nothing.
std::string TargetEmulator();

// A child process with its standard streams on pipes. argv[0] is a program
// of this build, started through the target's emulator when cross-built, or
// one of the build machine's own under /bin or /usr/bin, started as it is.
// `env` entries (NAME=VALUE) replace or add to the test's own environment.
class RunningProgram {
public:
    RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   std::string stdinBytes = {});
    // A child never finished is killed and reaped.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    void Signal(int signal);
    pid_t Pid() const { return pid_; }
    // Feeds its input, collects its output and waits for it to end; one that
    // is still running after `limit` is killed and marked as timed out.
    RunResult Finish(std::chrono::milliseconds limit = std::chrono::hours(1));

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stdinBytes_;
};

// Runs `argv` (argv[0] a path) with `stdinBytes` on its standard input and
// collects its output. `env` as for RunningProgram.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& stdinBytes = {},
              const std::vector<std::string>& env = {});

}  // namespace tolvane::test
