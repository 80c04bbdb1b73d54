// `tolvane record` left running for good: --split through the hardware-like
// capture device, a kill mid-file and the recovery at the next start, and a
// full disk on a tiny file system. The device runs in its fast mode at
// twice real time, so 65 s of sound take half that; a second then lasts
// 500 ms, five times the recorder's look at its file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
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
using Clock = std::chrono::steady_clock;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t Lines(const std::string& path) {
    if (!Exists(path)) return 0;
    const Bytes bytes = ReadFile(path);
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

// The samples a file's header counts (a killed recording's file may hold a
// part-written second behind them).
std::vector<std::int16_t> CountedSamples(const Bytes& file) {
    std::vector<std::int16_t> samples = SamplesOf(file);
    samples.resize(std::min<std::size_t>(samples.size(), U32At(file, 40) / 2));
    return samples;
}

// x-20261209T212651Z.wav as Unix seconds.
std::time_t NameTime(const std::string& name) {
    std::tm t{};
    EXPECT_EQ(std::sscanf(name.c_str(), "x-%4d%2d%2dT%2d%2d%2dZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                          &t.tm_min, &t.tm_sec),
              6)
        << name;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return timegm(&t);
}

class RecordRotation : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string command = DEVICE_HOME_SCRIPT " " + home_ + " " CAPTURE_DEVICE_MODULE " 250 50 2";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::filesystem::create_directory(rec_);
    }

    std::vector<std::string> Record(std::vector<std::string> args) const {
        args.insert(args.begin(), {TOLVANE_CLI, "record"});
        return args;
    }
    std::vector<std::string> Env() const { return HostEnvironment({"HOME=" + home_}); }

    ScratchDir dir_;
    const std::string home_ = dir_ / "home";
    const std::string rec_ = dir_ / "rec";
    const std::string log_ = dir_ / "files.jsonl";
};

// 65 s of sound split every 10 s, then SIGKILL: six finished files exactly
// 10 s apart by name and content, the seventh still marked, and all seven
// one unbroken ramp. The next recording into the folder finishes the marked
// one under its final name, exactly as its header counts it, and removes
// nothing.
TEST_F(RecordRotation, SplitsWithoutAGapAndAKilledFileIsRecoveredByTheNextRun) {
    const std::string pattern = rec_ + "/x-%Y%m%dT%H%M%SZ.wav";
    RunningProgram host(Record({pattern, "--split", "10", "--log", log_}), Env());
    const auto limit = Clock::now() + 120s;
    std::string part;
    for (; Clock::now() < limit; std::this_thread::sleep_for(20ms)) {
        if (Lines(log_) < 6) continue;
        const std::vector<std::string> names = Names(rec_);
        const auto marked = std::find_if(names.begin(), names.end(),
                                         [](const std::string& n) { return n.size() > 5 && n.substr(n.size() - 5) == ".part"; });
        if (marked == names.end()) continue;
        part = *marked;
        if (HeaderSeconds(ReadFile(rec_ + "/" + part)) >= 5) break;
    }
    host.Signal(SIGKILL);
    const RunResult killed = host.Finish(10s);
    ASSERT_EQ(killed.signal, SIGKILL) << killed.err;
    ASSERT_EQ(Lines(log_), 6u) << "the recording did not reach its seventh file in time";

    const std::vector<std::string> names = Names(rec_);
    ASSERT_EQ(names.size(), 7u);
    std::vector<std::int16_t> joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const Bytes file = ReadFile(rec_ + "/" + names[i]);
        if (i < 6) {
            EXPECT_TRUE(IsWholeSecondsWav(file));
            EXPECT_EQ(HeaderSeconds(file), 10u);
            EXPECT_EQ(NameTime(names[i]), NameTime(names[0]) + static_cast<std::time_t>(10 * i));
        } else {
            EXPECT_EQ(names[i], part);
            EXPECT_EQ(NameTime(names[i]), NameTime(names[0]) + 60);
        }
        const std::vector<std::int16_t> samples = CountedSamples(file);
        joined.insert(joined.end(), samples.begin(), samples.end());
    }
    EXPECT_TRUE(IsContiguousRamp(joined));
    // One line a finished file, in order, each of ten seconds ended by the split.
    const Bytes log = ReadFile(log_);
    const std::string logText(log.begin(), log.end());
    std::size_t at = 0;
    for (std::size_t i = 0; i < 6; ++i, ++at) {
        at = logText.find("{\"file\":\"" + rec_ + "/" + names[i] + "\"", at);
        ASSERT_NE(at, std::string::npos) << names[i] << " in " << logText;
        for (const std::string field : {"\"seconds\":10,", "\"ended\":\"split\""}) {
            EXPECT_EQ(logText.compare(logText.find(field.substr(0, 8), at), field.size(), field), 0) << logText;
        }
    }

    Bytes before = ReadFile(rec_ + "/" + part);
    // Recovered as its header counts it: a second cut off part-written goes.
    before.resize(std::min<std::size_t>(before.size(), 44 + U32At(before, 40)));
    const RunResult rerun = RunningProgram(Record({pattern, "--seconds", "1"}), Env()).Finish(60s);
    ASSERT_FALSE(rerun.timedOut);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    const std::string finished = part.substr(0, part.size() - 5);
    EXPECT_NE(rerun.err.find("recovered " + rec_ + "/" + part), std::string::npos) << rerun.err;
    EXPECT_NE(rerun.err.find(" as " + rec_ + "/" + finished), std::string::npos) << rerun.err;
    EXPECT_FALSE(Exists(rec_ + "/" + part));
    EXPECT_EQ(ReadFile(rec_ + "/" + finished), before);
    EXPECT_EQ(Names(rec_).size(), 8u) << "the rerun's own file, and nothing removed";
}

// A name that is taken, as a file or as a file being written, is never
// written over: the recording takes the next number.
TEST_F(RecordRotation, ATakenNameIsNumberedNotOverwritten) {
    const Bytes kept = {'k', 'e', 'e', 'p'};
    WriteFile(rec_ + "/take.wav", kept);
    WriteFile(rec_ + "/take-2.wav.part", kept);  // not a recorder's: not recovered either
    const RunResult r = RunningProgram(Record({rec_ + "/take.wav", "--seconds", "1"}), Env()).Finish(60s);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, RecordedLine(1, rec_ + "/take-3.wav"));
    EXPECT_EQ(ReadFile(rec_ + "/take.wav"), kept);
    EXPECT_EQ(ReadFile(rec_ + "/take-2.wav.part"), kept);
    EXPECT_TRUE(IsWholeSecondsWav(ReadFile(rec_ + "/take-3.wav")));
}

// A 192 KiB tmpfs fills after about a dozen seconds of sound: the recording
// ends within a few seconds of that, not the 12 s that a device that stopped
// takes, with status 1 and saying so; every file is finished, renamed and
// whole, and together they are one unbroken ramp.
TEST_F(RecordRotation, AFullDiskEndsTheRecordingAtOnceAndKeepsEveryFileWhole) {
    const std::string small = dir_ / "small";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=192k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs (needs root)";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};

    RunningProgram host(Record({small + "/d-%N.wav", "--split", "3", "--seconds", "600", "--log", log_}), Env());
    // When the disk has less than two seconds of sound left.
    Clock::time_point full{};
    RunResult r;
    for (const auto limit = Clock::now() + 60s; Clock::now() < limit; std::this_thread::sleep_for(20ms)) {
        struct statvfs info {};
        if (full == Clock::time_point{} && ::statvfs(small.c_str(), &info) == 0 &&
            info.f_bfree * info.f_frsize < 32000) {
            full = Clock::now();
            break;
        }
    }
    ASSERT_NE(full, Clock::time_point{}) << "the disk did not fill";
    r = host.Finish(30s);
    const auto took = Clock::now() - full;
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("the disk is full"), std::string::npos) << r.err;
    EXPECT_LT(took, 8s) << "the recording went on for that long on a full disk";

    const std::vector<std::string> names = Names(small);
    ASSERT_GE(names.size(), 2u);
    std::vector<std::int16_t> joined;
    std::uint32_t seconds = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find(".part"), std::string::npos);
        const Bytes file = ReadFile(small + "/" + name);
        EXPECT_TRUE(IsWholeSecondsWav(file));
        seconds += HeaderSeconds(file);
        const std::vector<std::int16_t> samples = SamplesOf(file);
        joined.insert(joined.end(), samples.begin(), samples.end());
    }
    EXPECT_TRUE(IsContiguousRamp(joined));
    EXPECT_GE(seconds, 6u);
    EXPECT_EQ(Lines(log_), names.size());
    const Bytes log = ReadFile(log_);
    const std::string logText(log.begin(), log.end());
    EXPECT_NE(logText.find("\"ended\":\"disk full\"}\n", logText.size() - 40), std::string::npos) << logText;
}

}  // namespace
}  // namespace tolvane::test
