// `tolvane record` recording a PulseAudio source that plays a ramp in real
// time (pulse_source.sh, started in PULSE_SOURCE_DIR): what a host gets from
// the real library through real ALSA when it ends by time, by a stop request,
// by being killed and by its audio server going away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "files.h"
#include "host_environment.h"
#include "pulse_source_test.h"
#include "recorded_file.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

// Far beyond any of these recordings, even under a sanitizer on a busy
// machine: only a host that hangs gets here.
constexpr auto kHangLimit = 30s;

// Its .asoundrc routes ALSA's "default" to the test source.
std::vector<std::string> SourceEnvironment() { return HostEnvironment({"HOME=" PULSE_SOURCE_DIR "/home"}); }

RunningProgram StartRecording(const std::string& path, const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv{TOLVANE_CLI, "record", path};
    argv.insert(argv.end(), more.begin(), more.end());
    return RunningProgram(argv, SourceEnvironment());
}

class RecordFromSource : public PulseSourceTest {
protected:
    ScratchDir dir_;
};

TEST_F(RecordFromSource, TimedRecordingHoldsItsSecondsAsOneRunOfTheSource) {
    const std::string path = dir_ / "take.wav";
    const RunResult r = StartRecording(path, {"--seconds", "3"}).Finish(kHangLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "a status line where standard error is no terminal";
    const Bytes file = ReadFile(path);
    ASSERT_TRUE(IsWholeSecondsWav(file));
    // It ends when the file holds the seconds asked for, however late the
    // device started.
    EXPECT_EQ(HeaderSeconds(file), 3u);
    EXPECT_EQ(r.out, RecordedLine(3, path));
    EXPECT_TRUE(IsContiguousRamp(SamplesOf(file)));
}

TEST_F(RecordFromSource, KilledHostLeavesAValidFileOfTheSecondsWritten) {
    const std::string path = dir_ / "take.wav";
    RunningProgram host = StartRecording(path);
    ASSERT_TRUE(WaitForFirstSecond(path, 15s));
    // Half way through the second after next: mid-block, never mid-append.
    std::this_thread::sleep_for(1500ms);
    host.Signal(SIGKILL);
    const RunResult r = host.Finish(kHangLimit);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(r.out, "");
    // Still marked as being written: the next recording into the folder
    // gives it its name.
    EXPECT_FALSE(std::filesystem::exists(path));
    const Bytes file = ReadFile(path + ".part");
    ASSERT_TRUE(IsWholeSecondsWav(file));
    EXPECT_GE(HeaderSeconds(file), 1u);
    EXPECT_TRUE(IsContiguousRamp(SamplesOf(file)));
}

TEST_F(RecordFromSource, StopRequestEndsTheRecordingCleanly) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        const std::string path = dir_ / (std::to_string(signal) + ".wav");
        RunningProgram host = StartRecording(path);
        ASSERT_TRUE(WaitForFirstSecond(path, 15s));
        std::this_thread::sleep_for(1200ms);
        host.Signal(signal);
        const RunResult r = host.Finish(kHangLimit);
        ASSERT_FALSE(r.timedOut) << "the host did not stop";
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const Bytes file = ReadFile(path);
        ASSERT_TRUE(IsWholeSecondsWav(file));
        const std::uint32_t seconds = HeaderSeconds(file);
        EXPECT_GE(seconds, 1u);
        EXPECT_LE(seconds, 3u);
        EXPECT_EQ(r.out, RecordedLine(seconds, path));
        EXPECT_TRUE(IsContiguousRamp(SamplesOf(file)));
    }
}

TEST_F(RecordFromSource, RecordingConvertsToTheExpected1600HzFile) {
    const std::string take = dir_ / "take.wav";
    const RunResult recorded = StartRecording(take, {"--seconds", "2"}).Finish(kHangLimit);
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
    const Bytes input = ReadFile(take);
    ASSERT_TRUE(IsWholeSecondsWav(input));
    ASSERT_GE(HeaderSeconds(input), 1u);

    const std::string out = dir_ / "out.wav";
    const RunResult stretched = RunProgram({TOLVANE_CLI, "stretch", take, out});
    EXPECT_EQ(stretched.exitCode, 0);
    EXPECT_EQ(stretched.out, "Time stretch effect applied and saved to output.wav\n");
    EXPECT_EQ(ReadFile(out), ExpectedStretchFile(input));
}

// The audio server killed mid-recording: the file stops growing, and the host
// must notice, end within about 13 s with status 1 (short of its --seconds as
// well) and leave a valid file. A daemon of its own, since it is killed.
TEST(RecordFromKilledSource, StoppedCaptureEndsTheRecordingWithStatus1) {
    if (!PulseAudioInstalled()) GTEST_SKIP() << "pulseaudio is not installed";
    ScratchDir dir;
    const std::string source = dir / "pulse";
    ASSERT_EQ(std::system((PULSE_SOURCE_SCRIPT " start " + source + " " RAMP_WRITER).c_str()), 0);
    const std::string path = dir / "take.wav";
    RunningProgram host({TOLVANE_CLI, "record", path, "--seconds", "60"},
                        HostEnvironment({"HOME=" + source + "/home"}));
    const bool started = WaitForFirstSecond(path, 15s);
    std::this_thread::sleep_for(1500ms);
    const Bytes pid = ReadFile(source + "/pulseaudio.pid");
    ::kill(std::stoi(std::string(pid.begin(), pid.end())), SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    const RunResult r = host.Finish(kHangLimit);
    const auto took = std::chrono::steady_clock::now() - killed;
    EXPECT_EQ(std::system((PULSE_SOURCE_SCRIPT " stop " + source).c_str()), 0);
    ASSERT_TRUE(started);

    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    // Twelve seconds without a new one (more than the recorder's queue
    // holds), counted from the last that landed, noticed within a second
    // when nobody watches the meter: it ends, and does not hang.
    EXPECT_LT(took, 15s);
    const Bytes file = ReadFile(path);
    ASSERT_TRUE(IsWholeSecondsWav(file));
    const std::uint32_t seconds = HeaderSeconds(file);
    EXPECT_GE(seconds, 1u);
    EXPECT_EQ(r.out, RecordedLine(seconds, path));
    EXPECT_NE(r.err.find("capture stopped after " + std::to_string(seconds) + " second"), std::string::npos) << r.err;
    EXPECT_TRUE(IsContiguousRamp(SamplesOf(file)));
}

}  // namespace
}  // namespace tolvane::test
