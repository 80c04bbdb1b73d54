// What `tolvane record` shows, computed from files made here: the seconds the
// header counts, the last second's peak and dBFS, and the clips so far.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "files.h"
#include "recording_monitor.h"
#include "wav_bytes.h"

namespace tolvane::cli {
namespace {

using test::Bytes;

// A file as the recorder leaves it between two seconds: the header counts
// `counted` seconds of `samples`, and what lies behind them is not counted yet.
Bytes GrowingFile(const std::vector<std::int16_t>& samples, std::uint32_t counted) {
    Bytes file = test::WavFile(8000, samples);
    const Bytes header = test::WavHeaderBytes(8000, counted * 16000);
    std::copy(header.begin(), header.end(), file.begin());
    return file;
}

TEST(RecordingMonitor, FollowsTheHeaderAndMeasuresEachSavedSecond) {
    test::ScratchDir dir;
    const std::string path = dir / "take.wav";
    // Second 0: quiet, peak 1024 (-30.1 dBFS); second 1: one sample at each
    // full scale; second 2: one clip at 32767 and one sample just short of
    // -32768; then part of a second that the header does not count yet.
    std::vector<std::int16_t> samples(8000 * 3 + 500, 0);
    for (std::size_t i = 0; i < 8000; ++i) samples[i] = static_cast<std::int16_t>(i % 2 ? 1000 : -1024);
    samples[8000 + 10] = -32768;
    samples[8000 + 20] = 32767;
    samples[16000 + 7] = 32767;
    samples[16000 + 8] = -32767;
    samples[24000 + 1] = -32768;

    RecordingMonitor monitor;
    test::WriteFile(path, GrowingFile(samples, 0));
    ASSERT_TRUE(monitor.Open(path.c_str(), {}));
    EXPECT_FALSE(monitor.Update());
    EXPECT_EQ(monitor.levels().savedSeconds, 0u);
    EXPECT_EQ(monitor.levels().lastPeak, -1);
    EXPECT_EQ(StatusLine(0, monitor.levels()),
              "Recording 0:00  saved 0 s  [                    ]     -- dBFS  clipped 0");

    // The same open file, grown by one second, then by two at once.
    test::WriteFile(path, GrowingFile(samples, 1));
    EXPECT_TRUE(monitor.Update());
    EXPECT_EQ(monitor.levels().savedSeconds, 1u);
    EXPECT_EQ(monitor.levels().lastPeak, 1024);
    EXPECT_EQ(monitor.levels().clippedSamples, 0u);
    EXPECT_EQ(StatusLine(1, monitor.levels()),
              "Recording 0:01  saved 1 s  [==========          ]  -30.1 dBFS  clipped 0");
    EXPECT_FALSE(monitor.Update());

    test::WriteFile(path, GrowingFile(samples, 3));
    EXPECT_TRUE(monitor.Update());
    EXPECT_EQ(monitor.levels().savedSeconds, 3u);
    EXPECT_EQ(monitor.levels().lastPeak, 32767);
    EXPECT_EQ(monitor.levels().clippedSamples, 3u) << "clips of every new second, none of the uncounted tail";
    EXPECT_EQ(StatusLine(3725, monitor.levels()),
              "Recording 1:02:05  saved 3 s  [====================]   -0.0 dBFS  clipped 3");
}

TEST(RecordingMonitor, ShowsThePeakInDbfsOnABarOf60Db) {
    EXPECT_DOUBLE_EQ(PeakDbfs(32768), 0.0);
    EXPECT_NEAR(PeakDbfs(16384), -6.02, 0.01);
    EXPECT_NEAR(PeakDbfs(1), -90.31, 0.01);
    EXPECT_TRUE(std::isinf(PeakDbfs(0)) && PeakDbfs(0) < 0);

    RecordingLevels levels;
    levels.savedSeconds = 2;
    levels.lastPeak = 1036;  // -30.0 dBFS: half the bar
    EXPECT_EQ(StatusLine(61, levels), "Recording 1:01  saved 2 s  [==========          ]  -30.0 dBFS  clipped 0");
    levels.lastPeak = 10;  // below the bar's floor
    EXPECT_EQ(StatusLine(61, levels), "Recording 1:01  saved 2 s  [                    ]  -70.3 dBFS  clipped 0");
    levels.lastPeak = 0;
    EXPECT_EQ(StatusLine(61, levels), "Recording 1:01  saved 2 s  [                    ]   -inf dBFS  clipped 0");
}

// Without loss a recording falls short of the time it ran by less than the
// second in progress at Stop, the capture latency and the clock drift; more
// than that is loss, reported as the range it may span.
TEST(AudioLoss, OnlyAShortfallBeyondTheMarginsIsLoss) {
    EXPECT_FALSE(EstimateAudioLoss(10.99, 10).lost);
    EXPECT_FALSE(EstimateAudioLoss(11.1, 10).lost);      // 0.15 s of latency allowed
    EXPECT_FALSE(EstimateAudioLoss(3600.0 + 7.0, 3600).lost);  // 0.2 % drift
    EXPECT_FALSE(EstimateAudioLoss(0.4, 0).lost);        // stopped before a second was whole
    const AudioLoss starved = EstimateAudioLoss(11.5, 10);  // 1.25 s missing, say
    EXPECT_TRUE(starved.lost);
    EXPECT_GT(starved.leastSeconds, 0.0);
    EXPECT_LE(starved.leastSeconds, 1.25);
    EXPECT_GE(starved.mostSeconds, 1.25);
    EXPECT_TRUE(EstimateAudioLoss(3600.0 + 9.0, 3600).lost);
}

}  // namespace
}  // namespace tolvane::cli
