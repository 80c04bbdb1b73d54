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
    // Construct before the worker threads start, Finish once they are done.
    explicit BatchConsole(bool progress);
    ~BatchConsole() { Finish(); }

    void ShowProgress(const std::string& text);  // nothing when there is no progress line
    void PrintLine(const std::string& line);     // from any thread
    void Finish();                               // takes the progress line away for good

private:
    void Erase();  // with mutex_ held
    void Draw();   // with mutex_ held

    std::mutex mutex_;
    bool progress_;
    std::string text_;       // what the progress line says
    std::size_t width_ = 0;  // how much of the screen line it covers; 0: not shown
    bool lineOpen_ = false;  // standard output stopped inside a line
    int terminal_ = -1;      // standard output as it was, when relayed
    int pipe_ = -1;          // the read end of the pipe it is meanwhile
    std::thread relay_;
};

}  // namespace tolvane::cli
