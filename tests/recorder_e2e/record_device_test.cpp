// `tolvane record OUT --seconds 10` through a capture device that behaves
// like a board's own sound hardware (the tolvane_test_capture ALSA plugin:
// paced by the clock, a 250 ms ring that overruns when it is not read in
// time, a ramp numbered from its first frame), with storage made slow on
// demand (the slow_sync preload) or the host itself stopped. Storage that
// lags must cost no sample; audio lost anyway must be reported.
//
// Each recording prints the loss it measured from the ramp, so a run shows
// the figures even when the checks pass.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "host_environment.h"
#include "recorded_file.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kSeconds = 10;
// Ten seconds of audio, each sync up to 3 s late, on a busy machine: only
// a host that hangs takes longer.
constexpr auto kHangLimit = 60s;

// The delays a sync log (TOLVANE_TEST_SYNC_LOG) recorded, in order.
std::vector<long> SyncDelays(const std::string& log) {
    std::vector<long> delays;
    if (!Exists(log)) return delays;
    const Bytes bytes = ReadFile(log);
    const std::string text(bytes.begin(), bytes.end());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        delays.push_back(std::stol(line.substr(line.find(' ') + 1)));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return delays;
}

// How many of a process's threads run at SCHED_FIFO (the policy is the 41st
// field of each thread's stat).
int RealTimeThreads(pid_t pid) {
    int fifo = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (stat.rfind(')') == std::string::npos) continue;  // a thread that ended meanwhile
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int n = 3; n <= 41 && fields >> field; ++n) {
            if (n == 41 && field == "1") ++fifo;
        }
    }
    return fifo;
}

// Whether a thread of this process may run at SCHED_FIFO (root in a
// container may not); tried in a thread of its own, which then ends.
bool CanRunRealTime() {
    bool allowed = false;
    std::thread([&allowed] {
        sched_param priority{};
        priority.sched_priority = 5;
        allowed = ::sched_setscheduler(0, SCHED_FIFO, &priority) == 0;
    }).join();
    return allowed;
}

// Runs a program that cannot have a real-time priority, even as root:
// without CAP_SYS_NICE and with an RLIMIT_RTPRIO of 0.
const std::vector<std::string> kNormalPriority{"/usr/bin/prlimit", "--rtprio=0",           "/usr/bin/setpriv",
                                               "--inh-caps=-sys_nice", "--bounding-set=-sys_nice", "--"};

class RecordFromDevice : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string command = DEVICE_HOME_SCRIPT " " + home_ + " " CAPTURE_DEVICE_MODULE;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // The host records through the device, its syncs slowed as `env` asks.
    RunningProgram StartRecording(const std::vector<std::string>& env, std::uint32_t seconds = kSeconds,
                                  std::vector<std::string> argv = {}) const {
        std::vector<std::string> all{"HOME=" + home_, "LD_PRELOAD=" SLOW_SYNC, "TOLVANE_TEST_SYNC_LOG=" + syncLog_};
        all.insert(all.end(), env.begin(), env.end());
        argv.insert(argv.end(), {TOLVANE_CLI, "record", take_, "--seconds", std::to_string(seconds)});
        return RunningProgram(argv, HostEnvironment(all));
    }

    // The recording's samples, after printing what the ramp says was lost.
    std::vector<std::int16_t> Samples(const Bytes& file) const {
        const std::vector<std::int16_t> samples = SamplesOf(file);
        const RampLoss loss = MeasureRampLoss(samples);
        std::cout << "[ measured ] " << ::testing::UnitTest::GetInstance()->current_test_info()->name()
                  << ": lost " << loss.samples << " samples (" << loss.samples / 8 << " ms) in " << loss.breaks
                  << " break(s); " << samples.size() / 8000 << " s in the file\n";
        return samples;
    }

    ScratchDir dir_;
    const std::string home_ = dir_ / "home";
    const std::string take_ = dir_ / "take.wav";
    const std::string syncLog_ = dir_ / "sync.log";
};

struct StorageLag {
    const char* name;
    std::vector<std::string> env;
    long delayMs;        // of each delayed sync
    bool everySync;      // or only one
    // The capture thread at a real-time priority (it then leaves itself
    // 10 ms of the ring to answer in), or refused one (a 100 ms margin).
    bool realTime = true;
};

void PrintTo(const StorageLag& lag, std::ostream* out) { *out << lag.name; }

class RecordFromDeviceOverSlowStorage : public RecordFromDevice,
                                        public ::testing::WithParamInterface<StorageLag> {};

// Every lag here fits in what the recorder can queue: the file gets its ten
// seconds, every sample of them in one run, and the host succeeds.
TEST_P(RecordFromDeviceOverSlowStorage, LosesNoSampleAndSucceeds) {
    const StorageLag& lag = GetParam();
    RunningProgram host = StartRecording(lag.env, kSeconds, lag.realTime ? std::vector<std::string>() : kNormalPriority);
    ASSERT_TRUE(WaitForFirstSecond(take_, 15s));
    // Only the capture thread, and only where the system allows it.
    const int realTime = RealTimeThreads(host.Pid());
    const RunResult r = host.Finish(kHangLimit);
    EXPECT_EQ(realTime, lag.realTime && CanRunRealTime() ? 1 : 0);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, RecordedLine(kSeconds, take_));
    const Bytes file = ReadFile(take_);
    ASSERT_TRUE(IsWholeSecondsWav(file));
    EXPECT_EQ(HeaderSeconds(file), kSeconds);
    EXPECT_TRUE(IsContiguousRamp(Samples(file)));

    // The storage was as slow as asked: the preload was in and delayed syncs.
    const std::vector<long> delays = SyncDelays(syncLog_);
    // The fifth at least, whichever way the recorder groups its syncs.
    ASSERT_GE(delays.size(), 5u) << "the host made too few syncs, or slow_sync was not loaded";
    std::size_t delayed = 0;
    for (const long delay : delays) delayed += delay == lag.delayMs ? 1 : 0;
    EXPECT_EQ(delayed, lag.everySync ? delays.size() : std::size_t{lag.delayMs > 0 ? 1u : 0u});
}

INSTANTIATE_TEST_SUITE_P(
    Lags, RecordFromDeviceOverSlowStorage,
    ::testing::Values(StorageLag{"NoDelay", {}, 0, true},
                      // The fifth sync falls in the recording's third second.
                      StorageLag{"OneSyncDelayed3s", {"TOLVANE_TEST_SYNC_DELAY_NTH=5:3000"}, 3000, false},
                      StorageLag{"EverySyncDelayed400ms", {"TOLVANE_TEST_SYNC_DELAY_MS=400"}, 400, true},
                      StorageLag{"OneSyncDelayed3sAtNormalPriority", {"TOLVANE_TEST_SYNC_DELAY_NTH=5:3000"}, 3000,
                                 false, false}),
    [](const ::testing::TestParamInfo<StorageLag>& lag) { return lag.param.name; });

// Storage that lagged leaves more than the seconds asked for at Stop, and
// the file is cut back. A cut that fails is a failure, and what is printed
// is what the header counts.
TEST_F(RecordFromDevice, ACutBackThatFailsIsReported) {
    const RunResult r =
        StartRecording({"TOLVANE_TEST_SYNC_DELAY_NTH=5:3000", "TOLVANE_TEST_FAIL_FTRUNCATE=1"}, 3).Finish(kHangLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("cannot cut"), std::string::npos) << r.err;
    const Bytes file = ReadFile(take_);
    EXPECT_EQ(HeaderSeconds(file), 3u);
    EXPECT_EQ(r.out, RecordedLine(HeaderSeconds(file), take_));
}

// At real time and off a terminal, tolvane record looks at its file seldom,
// and for a file's last second only when the clock says it is due: each move
// still comes within the second after it, so the files keep to the grid and
// join without a gap, even after storage held the first file's seconds back
// for 2.5 s.
TEST_F(RecordFromDevice, SplitsAtRealTimeKeepToTheGrid) {
    const std::string folder = dir_ / "split";
    std::filesystem::create_directory(folder);
    const RunResult r = RunningProgram({TOLVANE_CLI, "record", folder + "/s-%N.wav", "--split", "3", "--seconds", "9"},
                                       HostEnvironment({"HOME=" + home_, "LD_PRELOAD=" SLOW_SYNC,
                                                        "TOLVANE_TEST_SYNC_DELAY_NTH=3:2500"}))
                            .Finish(kHangLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::uint32_t seconds[] = {3, 3, 3};
    std::string expectedOut;
    std::vector<std::int16_t> joined;
    for (int n = 0; n < 3; ++n) {
        const std::string name = folder + "/s-000" + std::to_string(n + 1) + ".wav";
        expectedOut += RecordedLine(seconds[n], name);
        const Bytes file = ReadFile(name);
        EXPECT_EQ(HeaderSeconds(file), seconds[n]) << name;
        const std::vector<std::int16_t> samples = SamplesOf(file);
        joined.insert(joined.end(), samples.begin(), samples.end());
    }
    EXPECT_EQ(r.out, expectedOut);
    EXPECT_TRUE(IsContiguousRamp(joined));
}

// The host starved for 1.5 s, six times the device's ring: audio is lost
// whatever the recorder does. The file stays valid, the host says how much
// was lost and fails.
TEST_F(RecordFromDevice, HostStoppedLongerThanTheRingReportsTheLossAndFails) {
    RunningProgram host = StartRecording({});
    ASSERT_TRUE(WaitForFirstSecond(take_, 15s));
    std::this_thread::sleep_for(300ms);
    host.Signal(SIGSTOP);
    std::this_thread::sleep_for(1500ms);
    host.Signal(SIGCONT);
    const RunResult r = host.Finish(kHangLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const Bytes file = ReadFile(take_);
    ASSERT_TRUE(IsWholeSecondsWav(file));
    const std::uint32_t seconds = HeaderSeconds(file);
    EXPECT_GE(seconds, 1u);
    EXPECT_LE(seconds, kSeconds);
    EXPECT_EQ(r.out, RecordedLine(seconds, take_));
    Samples(file);
    // Said on standard error, with how much.
    EXPECT_TRUE(r.err.find("lost") != std::string::npos && r.err.find_first_of("0123456789") != std::string::npos)
        << "standard error: \"" << r.err << "\"";
}

// A host moving the recording from file to file with NextFile, at moments
// that fall anywhere in the device's second, over storage that keeps up and
// over storage that lags: every file is a valid WAV holding what the host
// was told, and each boundary joins consecutive samples. (Sound a loaded
// machine loses to the device's ring falls inside a second, not at a
// boundary; the figure printed shows it, and the tests above count it.)
TEST_P(RecordFromDeviceOverSlowStorage, NextFileJoinsFilesWithoutAGap) {
    constexpr int kFiles = 5;
    const std::string prefix = dir_ / "part";
    std::vector<std::string> env{"HOME=" + home_, "LD_PRELOAD=" SLOW_SYNC};
    env.insert(env.end(), GetParam().env.begin(), GetParam().env.end());
    std::vector<std::string> argv = GetParam().realTime ? std::vector<std::string>{} : kNormalPriority;
    argv.insert(argv.end(), {ROTATING_HOST, prefix, std::to_string(kFiles), "1700"});
    RunningProgram host(argv, HostEnvironment(env));
    const RunResult r = host.Finish(kHangLimit);
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string expectedOut;
    std::vector<std::int16_t> joined;
    std::vector<std::int16_t> boundaries;  // the last sample before each, and the first after
    for (int n = 0; n < kFiles; ++n) {
        const std::string name = prefix + std::to_string(n) + ".wav";
        const Bytes file = ReadFile(name);
        ASSERT_TRUE(IsWholeSecondsWav(file)) << name;
        expectedOut += name + " " + std::to_string(HeaderSeconds(file)) + "\n";
        const std::vector<std::int16_t> samples = SamplesOf(file);
        ASSERT_FALSE(samples.empty()) << name;
        if (n > 0) boundaries.insert(boundaries.end(), {joined.back(), samples.front()});
        joined.insert(joined.end(), samples.begin(), samples.end());
    }
    EXPECT_EQ(r.out, expectedOut);
    Samples(WavFile(8000, joined));
    for (std::size_t b = 0; b < boundaries.size(); b += 2)
        EXPECT_TRUE(IsContiguousRamp(std::vector<std::int16_t>{boundaries[b], boundaries[b + 1]})) << "boundary " << b / 2 + 1;
    // 8.5 s or more of the host's clock: all of it but the second in
    // progress at Stop and the device's start.
    EXPECT_GE(joined.size(), 8000u * 7);
}

}  // namespace
}  // namespace tolvane::test
