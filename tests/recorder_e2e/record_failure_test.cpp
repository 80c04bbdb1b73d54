// `tolvane record` where it cannot record: no capture device, an output that
// cannot be created, arguments that are not valid.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "host_environment.h"
#include "recorded_file.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNoServer = "unix:/nonexistent/tolvane/native";

// A HOME whose ALSA "default" is a PulseAudio server that does not exist, so
// no capture device can be opened; a host that records anyway would block
// on nothing or on a real device, and is cut off at the limit.
class RecordFailure : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "home");
        const std::string asoundrc = std::string("pcm.!default { type pulse server \"") + kNoServer + "\" }\n";
        WriteFile(dir_ / "home/.asoundrc", Bytes(asoundrc.begin(), asoundrc.end()));
    }

    RunResult Record(const std::vector<std::string>& args) {
        std::vector<std::string> argv{TOLVANE_CLI, "record"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunningProgram(argv, HostEnvironment({"HOME=" + (dir_ / "home"), std::string("PULSE_SERVER=") + kNoServer}))
            .Finish(20s);
    }

    ScratchDir dir_;
};

TEST_F(RecordFailure, NoCaptureDeviceLeavesAnEmptyValidWav) {
    const std::string path = dir_ / "take.wav";
    const RunResult r = Record({path});
    ASSERT_FALSE(r.timedOut) << "the host did not end";
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no capture device could be opened"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(path), WavHeaderBytes(8000, 0));
}

TEST_F(RecordFailure, OutputThatCannotBeCreatedIsReportedBeforeAnyDevice) {
    const std::string path = dir_ / "missing/take.wav";
    const RunResult r = Record({path, "--seconds", "1"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    // Not the device's message: the file is tried first.
    EXPECT_EQ(r.err, "tolvane record: cannot create " + path + ".part\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(Exists(dir_ / "missing"));
}

TEST_F(RecordFailure, ArgumentsThatAreNotValidGiveUsageAndTouchNothing) {
    const std::string path = dir_ / "take.wav";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--seconds", "3"},
        {path, "--seconds"},
        {path, "--seconds", ""},
        {path, "--seconds", "abc"},
        {path, "--seconds", "3x"},
        {path, "--seconds", "1.5"},
        {path, "--seconds", "0"},
        {path, "--seconds", "-2"},
        {path, "--seconds", "99999999999"},
        {path, "extra"},
        {path, "--seconds", "2", "extra"},
        {path, "--split"},
        {path, "--split", "0"},
        {path, "--split", "15x"},
        {path, "--split", "134201"},
        {path, "--keep-free", "lots"},
        {path, "--log"},
        {dir_ / "x-%q.wav"},
        {dir_ / "%Y/x.wav"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += " [" + a + "]";
        SCOPED_TRACE("record" + shown);
        const RunResult r = Record(args);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("usage: tolvane"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(Exists(path));
        EXPECT_FALSE(Exists(path + ".part"));
    }
}

}  // namespace
}  // namespace tolvane::test
