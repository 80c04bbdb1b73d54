// Standard error for the batch form: failure lines from any worker thread,
// the summary, and on a terminal one progress line kept below everything
// else, all whole.
#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace tolvane::cli {

class BatchConsole {
public:
    // `progress`: keep a progress line (standard error is a terminal).
    // Construct before the worker threads start.
    explicit BatchConsole(bool progress);
    ~BatchConsole() { Finish(); }
    BatchConsole(const BatchConsole&) = delete;
    BatchConsole& operator=(const BatchConsole&) = delete;

    // Replaces the progress line; nothing when there is none.
    void ShowProgress(const std::string& text);
    // A line of its own on standard error, from any thread.
    void PrintLine(const std::string& line);
    // Removes the progress line for good and passes on what is left of
    // standard output. Call once the workers are done.
    void Finish();

private:
    void Erase();  // with mutex_ held
    void Draw();   // with mutex_ held

    std::mutex mutex_;
    bool progress_;
    std::string text_;       // what the progress line says
    std::size_t width_ = 0;  // how much of the screen line it covers; 0: not shown
    bool lineOpen_ = false;  // standard output stopped inside a line

    int terminal_ = -1;  // the original standard output, when relayed
    int pipe_ = -1;      // read end of the pipe standard output now is
    std::thread relay_;
};

}  // namespace tolvane::cli
