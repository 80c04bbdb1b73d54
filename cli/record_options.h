// The command line of `tolvane record`.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane::cli {

// Without --split a recording still moves to a next file every this many
// seconds: many readers take a WAV's sizes as signed, so a file must stay
// under 2 GiB, which 134,217 s of 8000 Hz 16-bit sound fill. The 17 s to
// spare are for the seconds the recorder may still hold in memory when the
// move is asked for (up to ten, while storage lags).
constexpr std::uint32_t kLongestFileSeconds = 134'200;

struct RecordOptions {
    std::string pattern;             // the output argument
    std::uint32_t seconds = 0;       // --seconds: the whole recording's; 0 for no limit
    std::uint32_t splitSeconds = 0;  // --split; 0 for none
    std::string logPath;             // --log; "" for none
    std::uint64_t keepFreeBytes = 0; // --keep-free; 0 for none
};

// Reads the arguments after "record". Returns false with `problem` set
// when they are not valid.
bool ParseRecordOptions(int argc, char** argv, RecordOptions& options, std::string& problem);

// "900", "900s", "15m", "1h", "2d": whole seconds from 1 up; false otherwise.
bool ParseDuration(const std::string& text, std::uint64_t& seconds);

// "500000", "64K", "100M", "2G" (binary multiples; "KiB", "MB" and the like
// too): whole bytes from 1 up; false otherwise.
bool ParseSize(const std::string& text, std::uint64_t& bytes);

}  // namespace tolvane::cli
