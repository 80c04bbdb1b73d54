// The audio input recording a PulseAudio source that plays a ramp in real
// time, started by pulse_source.sh in PULSE_SOURCE_DIR.
#include <sys/stat.h>

#include <cstdlib>

#include "capture_log.h"
#include "pulse_source_test.h"

namespace {

using Clock = std::chrono::steady_clock;

// Stopping or closing must wake the capture thread promptly.
constexpr long long kPromptlyMs = 200;

long long Milliseconds(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

using WaveInPulse = tolvane::test::PulseSourceTest;

TEST_F(WaveInPulse, RecordsGaplessWhileTheHandlerRequeuesAndStopsPromptly) {
    const std::size_t threadsBefore = ThreadCount();
    CaptureLog log;
    HWAVEIN device = nullptr;
    ASSERT_EQ(OpenLogged(&device, log), MMSYSERR_NOERROR);
    PreparedBuffer buffer;
    Prepare(device, buffer, 16000);
    log.requeue = true;
    // The handler holds the buffer a while each time; the device's ring must
    // cover that without losing a sample.
    log.requeueDelayMs = 300;
    ASSERT_EQ(waveInAddBuffer(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.WaitForData(3, std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Stop hands back what is in the buffer before it returns.
    log.requeueDelayMs = 0;
    const auto stopAt = Clock::now();
    ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);
    const auto stopTook = Clock::now() - stopAt;
    // The reader wakes as seldom as the ring allows (up to a second apart),
    // so a buffer may be handed back that long after it filled: Stop may
    // find a fourth second filled already.
    const std::size_t stopped = log.DataCount();
    ASSERT_GE(stopped, 4u);
    ASSERT_LE(stopped, 5u);
    log.requeue = false;
    ASSERT_EQ(waveInReset(device), MMSYSERR_NOERROR);  // the buffer queued again, empty
    EXPECT_EQ(waveInUnprepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    const auto closeAt = Clock::now();
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    const auto closeTook = Clock::now() - closeAt;

    const std::size_t messages = log.MessageCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(log.MessageCount(), messages) << "handler called after Close returned";
    EXPECT_EQ(ThreadCount(), threadsBefore);

    EXPECT_LT(Milliseconds(stopTook), kPromptlyMs);
    EXPECT_LT(Milliseconds(closeTook), kPromptlyMs);
    ASSERT_EQ(log.dataBytes.size(), stopped + 1);
    for (std::size_t i = 0; i + 1 < stopped; ++i) EXPECT_EQ(log.dataBytes[i], 16000u);
    EXPECT_GT(log.dataBytes[stopped - 1], 0u);  // what Stop found part filled
    EXPECT_LT(log.dataBytes[stopped - 1], 16000u);
    EXPECT_EQ(log.dataBytes[stopped], 0u);
    for (const MMRESULT result : log.requeueResults) EXPECT_EQ(result, MMSYSERR_NOERROR);
    EXPECT_EQ(log.messages.back(), WIM_CLOSE);
    EXPECT_TRUE(IsContiguousRamp(log.samples));
}

TEST_F(WaveInPulse, CapturesAgainAfterStopAndStart) {
    CaptureLog log;
    HWAVEIN device = nullptr;
    ASSERT_EQ(OpenLogged(&device, log), MMSYSERR_NOERROR);
    PreparedBuffer buffer;
    Prepare(device, buffer, 4000);
    for (std::size_t round = 1; round <= 2; ++round) {
        ASSERT_EQ(waveInAddBuffer(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInStart(device), MMSYSERR_NOERROR);
        ASSERT_TRUE(log.WaitForData(round, std::chrono::seconds(10)));
        ASSERT_EQ(waveInStop(device), MMSYSERR_NOERROR);  // nothing queued: nothing handed back
        EXPECT_EQ(log.DataCount(), round);
    }
    EXPECT_EQ(waveInUnprepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(log.dataBytes, (std::vector<DWORD>{4000, 4000}));
    EXPECT_TRUE(IsContiguousRamp(std::vector<std::uint16_t>(log.samples.begin(), log.samples.begin() + 2000)));
    EXPECT_TRUE(IsContiguousRamp(std::vector<std::uint16_t>(log.samples.begin() + 2000, log.samples.end())));
}

}  // namespace

int main(int argc, char** argv) {
    // Its .asoundrc routes ALSA's "default" to the test source; ALSA reads it
    // when the first PCM opens.
    setenv("HOME", PULSE_SOURCE_DIR "/home", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
