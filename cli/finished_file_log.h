// The --log of `tolvane record`: one line of JSON for each file finished,
// appended as the file gets its final name, so that a program watching the
// folder can learn what each file holds and an operator can see the sample
// clock drift against the wall clock (the time of a file's first sample is
// counted in samples from the start, its finishing time is the wall clock's).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tolvane::cli {

// Why a file ended.
enum class FileEnd { kSplit, kLimit, kStop, kDiskFull, kCaptureStopped };

struct FinishedFile {
    std::string path;
    std::int64_t firstSampleUnixMs = 0;  // the recording's start plus the samples before the file
    std::uint32_t seconds = 0;
    std::int64_t finishedUnixMs = 0;     // the wall clock when it was finished
    double lostSeconds = 0;              // sound missing while it was written, by the host's clock (at least)
    FileEnd end = FileEnd::kStop;
};

// {"file":"x.wav","first_sample_utc":"...Z","seconds":900,"finished_utc":"...Z",
//  "lost_seconds":0.0,"ended":"split"}, with its line end.
std::string LogLine(const FinishedFile& file);

class FinishedFileLog {
public:
    FinishedFileLog() = default;
    ~FinishedFileLog();
    FinishedFileLog(const FinishedFileLog&) = delete;
    FinishedFileLog& operator=(const FinishedFileLog&) = delete;

    // Opens `path` for appending; false when it cannot be.
    bool Open(const std::string& path);
    // Appends one line and flushes it; says once on standard error when
    // that fails (the recording goes on: the files matter more).
    void Append(const FinishedFile& file);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
};

}  // namespace tolvane::cli
