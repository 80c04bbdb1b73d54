// Checks on a file that `tolvane record` wrote, read independently of the
// library's own code.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ramp_check.h"
#include "wav_bytes.h"

namespace tolvane::test {

// One second of recording: 8000 16-bit samples.
constexpr std::uint32_t kSecondBytes = 16000;

// Holds when `file` is a canonical 8000 Hz mono 16-bit WAV whose header
// states exactly the bytes behind it, and those are whole seconds.
::testing::AssertionResult IsWholeSecondsWav(const Bytes& file);

// The seconds a file's header states (its data size / 16000).
std::uint32_t HeaderSeconds(const Bytes& file);

// The line `tolvane record` prints on success.
std::string RecordedLine(std::uint32_t seconds, const std::string& path);

// Waits until the recording at `path` (PATH.part while it is written) has
// grown by its first second.
bool WaitForFirstSecond(const std::string& path, std::chrono::milliseconds limit);

// How far a recording of a test source's ramp strays from one unbroken run:
// the samples missing (net of any repeated), and the number of breaks. A
// jump of 32768 samples or more forward reads as a step back, so losses up
// to about 4 s per break are measured.
struct RampLoss {
    long long samples = 0;
    std::size_t breaks = 0;
};
RampLoss MeasureRampLoss(const std::vector<std::int16_t>& samples);

}  // namespace tolvane::test
