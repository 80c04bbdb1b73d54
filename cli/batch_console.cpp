#include "batch_console.h"

#include <cstdio>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace tolvane::cli {
namespace {

#if defined(_WIN32)
bool IsTerminal(int fd) { return _isatty(fd) != 0; }
bool MakePipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY) == 0; }
int Duplicate(int fd) { return _dup(fd); }
void MoveTo(int from, int to) { _dup2(from, to); }
void Close(int fd) { _close(fd); }
long ReadSome(int fd, char* buffer, unsigned size) { return _read(fd, buffer, size); }
long WriteSome(int fd, const char* data, unsigned size) { return _write(fd, data, size); }
#else
bool IsTerminal(int fd) { return ::isatty(fd) == 1; }
bool MakePipe(int fds[2]) { return ::pipe(fds) == 0; }
int Duplicate(int fd) { return ::dup(fd); }
void MoveTo(int from, int to) {
    while (::dup2(from, to) < 0 && errno == EINTR) {
    }
}
void Close(int fd) { ::close(fd); }
long ReadSome(int fd, char* buffer, unsigned size) {
    ssize_t n;
    while ((n = ::read(fd, buffer, size)) < 0 && errno == EINTR) {
    }
    return static_cast<long>(n);
}
long WriteSome(int fd, const char* data, unsigned size) {
    ssize_t n;
    while ((n = ::write(fd, data, size)) < 0 && errno == EINTR) {
    }
    return static_cast<long>(n);
}
#endif

constexpr int kStdout = 1;

}  // namespace

BatchConsole::BatchConsole(bool progress) : progress_(progress) {
    if (!progress_ || !IsTerminal(kStdout)) {
        return;
    }
    int fds[2];
    if (!MakePipe(fds)) {
        return;
    }
    std::fflush(stdout);
    terminal_ = Duplicate(kStdout);
    if (terminal_ < 0) {
        Close(fds[0]);
        Close(fds[1]);
        return;
    }
    MoveTo(fds[1], kStdout);
    Close(fds[1]);
    pipe_ = fds[0];
    relay_ = std::thread(&BatchConsole::Relay, this);
}

BatchConsole::~BatchConsole() { Finish(); }

void BatchConsole::Erase() {
    if (shown_) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
        shown_ = false;
        width_ = 0;
    }
}

void BatchConsole::Draw() {
    if (!progress_ || lineOpen_ || text_.empty()) {
        return;
    }
    // Written over the old line, padded where the new one is shorter.
    const int pad = width_ > text_.size() ? static_cast<int>(width_ - text_.size()) : 0;
    std::fprintf(stderr, "\r%s%*s", text_.c_str(), pad, "");
    width_ = text_.size() + static_cast<std::size_t>(pad);
    shown_ = true;
}

void BatchConsole::ShowProgress(const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (progress_) {
        text_ = text;
        Draw();
    }
}

void BatchConsole::PrintLine(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Erase();
    std::fprintf(stderr, "%s\n", line.c_str());
    Draw();
}

void BatchConsole::Finish() {
    if (relay_.joinable()) {
        // Standard output goes back to the terminal, which closes the pipe's
        // last write end: the relay passes on what is left and stops.
        std::fflush(stdout);
        MoveTo(terminal_, kStdout);
        relay_.join();
        Close(pipe_);
        Close(terminal_);
        pipe_ = terminal_ = -1;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Erase();
    progress_ = false;
}

void BatchConsole::Relay() {
    char buffer[4096];
    for (;;) {
        const long got = ReadSome(pipe_, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        Erase();
        for (long done = 0; done < got;) {
            const long n = WriteSome(terminal_, buffer + done, static_cast<unsigned>(got - done));
            if (n <= 0) {
                break;
            }
            done += n;
        }
        lineOpen_ = buffer[got - 1] != '\n';
        Draw();
    }
}

}  // namespace tolvane::cli
