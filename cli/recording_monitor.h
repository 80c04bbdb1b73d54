// What `tolvane record` learns about a recording by reading back the file the
// library writes: the seconds its header counts and the levels of what they
// hold. The library itself is not asked; the file is the whole truth, so what
// is shown is exactly what has been saved.
#pragma once

#include <cstdint>
#include <string>

#include "read_back_file.h"
#include "utf16_args.h"

namespace tolvane::cli {

// The loudest magnitude a 16-bit sample can have (that of -32768).
constexpr int kFullScale = 32768;

struct RecordingLevels {
    std::uint32_t countedSeconds = 0;  // what the file's header counts, at the last look
    std::uint32_t savedSeconds = 0;    // of those, the ones whose levels are read
    int lastPeak = -1;                 // largest magnitude in the last saved second; -1 before the first
    std::uint64_t clippedSamples = 0;  // samples at -32768 or 32767 in all saved seconds
};

class RecordingMonitor {
public:
    // Opens the file the recorder has just created.
    bool Open(const char* utf8Path, const Utf16Path& utf16Path) { return file_.Open(utf8Path, utf16Path); }
    bool IsOpen() const { return file_.IsOpen(); }

    // Reads the header and the seconds saved since the last call, up to
    // kMostSecondsPerUpdate of them: a file that fills faster than real time
    // (catching up after storage lagged) is not read back whole before the
    // count is seen. Returns true when at least one new second has been read.
    bool Update();
    static constexpr std::uint32_t kMostSecondsPerUpdate = 64;

    const RecordingLevels& levels() const { return levels_; }

private:
    ReadBackFile file_;
    RecordingLevels levels_;
};

// Whether a recording lost sound, judged by what any host can see: the seconds
// the file holds against the time the recording ran on the host's clock,
// from Start returning to Stop being called. A recording keeps every whole
// second captured, so without loss it falls short of that time only by the
// second in progress at Stop, the capture path's latency, and the drift
// between the device's clock and the host's.
constexpr double kPartSecond = 1.0;
constexpr double kCaptureLatency = 0.15;
// 2000 ppm: twenty times what a crystal oscillator drifts.
constexpr double kClockDrift = 0.002;

struct AudioLoss {
    bool lost = false;
    double leastSeconds = 0;  // sound missing at least (more than 0 when lost)
    double mostSeconds = 0;   // and at most
};
AudioLoss EstimateAudioLoss(double elapsedSeconds, std::uint32_t savedSeconds);

// The peak as decibels relative to full scale: 0 for 32768, about -90.3 for
// 1, minus infinity for digital silence.
double PeakDbfs(int peak);

// The terminal's status line, without line ending: elapsed time, seconds
// saved, a bar and the dBFS of the last saved second's peak, clips so far.
std::string StatusLine(std::int64_t elapsedSeconds, const RecordingLevels& levels);

}  // namespace tolvane::cli
