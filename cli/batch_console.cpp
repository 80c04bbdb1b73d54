#include "batch_console.h"

#include <cstdio>

#include "platform.h"

namespace tolvane::cli {

// When standard output is a terminal too, the library's lines are passed on
// through a pipe, so that each can be put above the progress line instead of
// being run into it: only this program knows where that line is.
BatchConsole::BatchConsole(bool progress) : progress_(progress) {
    int fds[2];
    if (!progress_ || ::isatty(1) == 0 || !MakePipe(fds)) {
        return;
    }
    std::fflush(stdout);
    terminal_ = ::dup(1);
    if (terminal_ >= 0) {
        ::dup2(fds[1], 1);
    }
    ::close(fds[1]);  // standard output is now the only write end
    pipe_ = fds[0];
    relay_ = std::thread([this] {
        char buffer[4096];
        for (long got; (got = ::read(pipe_, buffer, sizeof buffer)) > 0;) {
            const std::lock_guard<std::mutex> lock(mutex_);
            Erase();
            for (long n, done = 0; done < got; done += n) {
                if ((n = ::write(terminal_, buffer + done, static_cast<unsigned>(got - done))) <= 0) {
                    break;
                }
            }
            lineOpen_ = buffer[got - 1] != '\n';
            Draw();
        }
    });
}

void BatchConsole::Erase() {
    if (width_ > 0) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
        width_ = 0;
    }
}

void BatchConsole::Draw() {
    if (!progress_ || lineOpen_ || text_.empty()) {
        return;
    }
    // Written over the old line, padded where the new one is shorter.
    const std::size_t pad = width_ > text_.size() ? width_ - text_.size() : 0;
    std::fprintf(stderr, "\r%s%*s", text_.c_str(), static_cast<int>(pad), "");
    width_ = text_.size() + pad;
}

void BatchConsole::ShowProgress(const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
    Draw();
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
        ::dup2(terminal_, 1);
        relay_.join();
        ::close(pipe_);
        ::close(terminal_);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Erase();
    progress_ = false;
}

}  // namespace tolvane::cli
