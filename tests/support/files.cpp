#include "files.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "target_emulator.h"

extern char** environ;

namespace tolvane::test {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

namespace {

// The test's environment with `overrides` (NAME=VALUE) put in place of the
// entries of the same name: a duplicate would be shadowed by the original,
// which getenv finds first.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const std::string& o : overrides) replaced = replaced || nameOf(o) == nameOf(entry);
        if (!replaced) out.push_back(entry);
    }
    out.insert(out.end(), overrides.begin(), overrides.end());
    return out;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::string TargetEmulator() {
    std::string words;
    for (const char* word : std::vector<const char*>{TOLVANE_TARGET_EMULATOR}) words += std::string(word) + " ";
    return words;
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                               std::string stdinBytes)
    : stdinBytes_(std::move(stdinBytes)) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    std::vector<std::string> envStrings = ChildEnvironment(env);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    const bool hostProgram = argv.at(0).rfind("/bin/", 0) == 0 || argv[0].rfind("/usr/bin/", 0) == 0;
    std::vector<std::string> args;
    if (!hostProgram) args = {TOLVANE_TARGET_EMULATOR};
    args.insert(args.end(), argv.begin(), argv.end());
    std::vector<char*> argp;
    for (auto& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);

    // spawnp: an emulator is named without its directory.
    const int spawned = ::posix_spawnp(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (spawned != 0) {
        pid_ = -1;
        CloseFd(in_);
        CloseFd(out_);
        CloseFd(err_);
        throw std::runtime_error("cannot run " + argv[0]);
    }
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    CloseFd(in_);
    CloseFd(out_);
    CloseFd(err_);
}

void RunningProgram::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

RunResult RunningProgram::Finish(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    // A child that stops reading its input must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    RunResult result;
    std::size_t fed = 0;
    if (stdinBytes_.empty()) CloseFd(in_);
    std::string* sinks[] = {&result.out, &result.err};
    int* sources[] = {&out_, &err_};
    while (out_ >= 0 || err_ >= 0 || in_ >= 0) {
        pollfd fds[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {in_, POLLOUT, 0}};
        int wait = -1;
        if (!result.timedOut) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                // Its pipes close as it dies.
                result.timedOut = true;
                ::kill(pid_, SIGKILL);
                CloseFd(in_);
                continue;
            }
            wait = static_cast<int>(std::min<long long>(left, 60000));
        }
        if (::poll(fds, 3, wait) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buf[65536];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                } else {
                    CloseFd(*sources[i]);
                }
            }
        }
        if (in_ >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const ssize_t n = (fds[2].revents & POLLOUT) != 0
                                  ? ::write(in_, stdinBytes_.data() + fed, stdinBytes_.size() - fed)
                                  : -1;
            if (n > 0) fed += static_cast<std::size_t>(n);
            if (n <= 0 || fed == stdinBytes_.size()) CloseFd(in_);
        }
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& stdinBytes,
              const std::vector<std::string>& env) {
    return RunningProgram(argv, env, stdinBytes).Finish();
}

}  // namespace tolvane::test
