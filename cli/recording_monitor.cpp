#include "recording_monitor.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "wav_sizes.h"

namespace tolvane::cli {
namespace {


// The bar spans 60 dB below full scale, 3 dB a mark: what is quieter than
// that is as good as silence on a speech input.
constexpr int kBarMarks = 20;
constexpr double kBarFloorDb = -60.0;

std::uint32_t LittleEndian32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::string Clock(std::int64_t seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    }
    return text;
}

}  // namespace

bool RecordingMonitor::Update() {
    unsigned char size[4];
    if (!file_.ReadAt(kDataSizeOffset, size, sizeof size)) return false;
    const std::uint32_t counted = LittleEndian32(size) / kSecondBytes;
    if (counted > levels_.countedSeconds) levels_.countedSeconds = counted;
    bool landed = false;
    // The recorder writes a second's samples before the header that counts
    // them, so every second counted can be read whole.
    for (std::uint32_t read = 0; levels_.savedSeconds < counted && read < kMostSecondsPerUpdate; ++read) {
        unsigned char second[kSecondBytes];
        if (!file_.ReadAt(kHeaderBytes + std::uint64_t{levels_.savedSeconds} * kSecondBytes, second, sizeof second)) {
            break;
        }
        int peak = 0;
        for (std::size_t i = 0; i < kSecondBytes; i += 2) {
            const int sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(second[i] | second[i + 1] << 8));
            if (sample == -32768 || sample == 32767) ++levels_.clippedSamples;
            const int magnitude = sample < 0 ? -sample : sample;
            if (magnitude > peak) peak = magnitude;
        }
        levels_.lastPeak = peak;
        ++levels_.savedSeconds;
        landed = true;
    }
    return landed;
}

AudioLoss EstimateAudioLoss(double elapsedSeconds, std::uint32_t savedSeconds) {
    const double slowest = elapsedSeconds * (1.0 - kClockDrift);
    const double fastest = elapsedSeconds * (1.0 + kClockDrift);
    AudioLoss loss;
    loss.leastSeconds = slowest - kPartSecond - kCaptureLatency - savedSeconds;
    loss.mostSeconds = fastest - savedSeconds;
    loss.lost = loss.leastSeconds > 0;
    return loss;
}

double PeakDbfs(int peak) {
    if (peak <= 0) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(static_cast<double>(peak) / kFullScale);
}

std::string StatusLine(std::int64_t elapsedSeconds, const RecordingLevels& levels) {
    std::string bar(kBarMarks, ' ');
    char level[16] = "    --";  // nothing saved yet
    if (levels.lastPeak >= 0) {
        const double db = PeakDbfs(levels.lastPeak);
        if (std::isinf(db)) {
            std::snprintf(level, sizeof level, "%6s", "-inf");
        } else {
            std::snprintf(level, sizeof level, "%6.1f", db);
            const double marks = std::round((db - kBarFloorDb) / (-kBarFloorDb) * kBarMarks);
            const int filled = marks < 0 ? 0 : marks > kBarMarks ? kBarMarks : static_cast<int>(marks);
            bar.replace(0, static_cast<std::size_t>(filled), static_cast<std::size_t>(filled), '=');
        }
    }
    return "Recording " + Clock(elapsedSeconds) + "  saved " + std::to_string(levels.savedSeconds) + " s  [" + bar +
           "] " + level + " dBFS  clipped " + std::to_string(levels.clippedSamples);
}

}  // namespace tolvane::cli
