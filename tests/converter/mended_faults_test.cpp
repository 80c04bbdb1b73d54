// Failures that must be reported as failures and must never destroy data.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "files.h"
#include "stretch_call.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

const std::string kInputFailed = "Failed to open input file.\n";
const std::string kOutputFailed = "Failed to open output file.\n";
const std::string kReadFailed = "Failed to read input file.\n";
const std::string kWriteFailed = "Failed to write output file.\n";

TEST(StretchFailures, InputThatCannotBeOpenedCreatesNothing) {
    ScratchDir dir;
    ::mkdir((dir / "a-directory").c_str(), 0755);
    for (const std::string& in : {dir / "missing.wav", dir / "a-directory"}) {
        const RunResult r = Stretch(in, dir / "out.wav");
        EXPECT_EQ(r.exitCode, 1) << in;
        EXPECT_EQ(r.out, kInputFailed) << in;
        EXPECT_FALSE(Exists(dir / "out.wav")) << in;
    }
}

TEST(StretchFailures, OutputThatCannotBeCreatedLeavesTheInputAlone) {
    ScratchDir dir;
    const Bytes input = WavFile(8000, Ramp(100));
    WriteFile(dir / "in.wav", input);
    for (const std::string& out : {dir / "no-such-dir/out.wav", dir.path()}) {
        const RunResult r = Stretch(dir / "in.wav", out);
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_EQ(r.out, kOutputFailed) << out;
    }
    EXPECT_EQ(ReadFile(dir / "in.wav"), input);
}

TEST(StretchFailures, OneFileNamedTwiceIsRefusedUntouched) {
    ScratchDir dir;
    const Bytes input = WavFile(8000, Ramp(5000));
    WriteFile(dir / "in.wav", input);
    ASSERT_EQ(::link((dir / "in.wav").c_str(), (dir / "hard-link.wav").c_str()), 0);
    ASSERT_EQ(::symlink("in.wav", (dir / "soft-link.wav").c_str()), 0);
    for (const std::string& out : {dir / "in.wav", dir / "./in.wav", dir / "hard-link.wav", dir / "soft-link.wav"}) {
        const RunResult r = Stretch(dir / "in.wav", out);
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_EQ(r.out, kOutputFailed) << out;
        EXPECT_EQ(ReadFile(dir / "in.wav"), input) << out;
    }
}

TEST(StretchFailures, FailedWriteIsReportedAndDevicesAreNotRemoved) {
    ScratchDir dir;
    WriteFile(dir / "in.wav", WavFile(8000, Ramp(100000)));
    const RunResult r = Stretch(dir / "in.wav", "/dev/full");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kWriteFailed);
    struct stat info {};
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// Writes fail at once under a file size limit of 0: the output is created
// and then cannot take a byte. What the converter created goes again, even
// through a link that led nowhere; the link itself is not the converter's.
TEST(StretchFailures, FailedWriteLeavesNothingThatItCreated) {
    ScratchDir dir;
    WriteFile(dir / "in.wav", WavFile(8000, Ramp(100000)));
    ASSERT_EQ(::symlink("target.wav", (dir / "link.wav").c_str()), 0);
    for (const std::string& out : {dir / "new.wav", dir / "link.wav"}) {
        const RunResult r = RunProgram({"/bin/sh", "-c",
                                        "trap '' XFSZ; ulimit -f 0; exec " + TargetEmulator() + "\"$0\" stretch \"$1\" \"$2\"",
                                        TOLVANE_CLI, dir / "in.wav", out});
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_EQ(r.out, kWriteFailed) << out;
    }
    EXPECT_FALSE(Exists(dir / "new.wav"));
    EXPECT_FALSE(Exists(dir / "target.wav"));
    EXPECT_TRUE(Exists(dir / "link.wav"));
}

TEST(StretchFailures, ReadErrorIsReportedNotTakenForTheEnd) {
    // Reading /proc/self/mem from offset 0 fails with EIO.
    ScratchDir dir;
    const RunResult r = Stretch("/proc/self/mem", dir / "out.wav");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kReadFailed);
    EXPECT_FALSE(Exists(dir / "out.wav"));
}

TEST(StretchPipes, PipedOutputGetsAnExactHeader) {
    ScratchDir dir;
    const Bytes input = WavFile(8000, Ramp(12345));
    WriteFile(dir / "in.wav", input);
    const RunResult r = Stretch(dir / "in.wav", "/dev/stdout");
    ASSERT_EQ(r.exitCode, 0);
    const Bytes expected = ExpectedStretchFile(input);
    // The success line follows the file's bytes on the same standard output.
    EXPECT_EQ(r.out, std::string(expected.begin(), expected.end()) + kDone);
}

TEST(StretchPipes, PipedInputAndOutputNeverGetAHeaderThatLies) {
    const Bytes honest = WavFile(8000, Ramp(9000));
    const RunResult ok = Stretch("/dev/stdin", "/dev/stdout", std::string(honest.begin(), honest.end()));
    ASSERT_EQ(ok.exitCode, 0);
    const Bytes expected = ExpectedStretchFile(honest);
    EXPECT_EQ(ok.out.substr(0, expected.size()), std::string(expected.begin(), expected.end()));

    // A header that overstates what a pipe brings cannot be mended once it
    // has gone down another pipe: that is a failure, not a lying file.
    Bytes lying = honest;
    lying[40] = 0xFF, lying[41] = 0xFF, lying[42] = 0x00;
    const RunResult bad = Stretch("/dev/stdin", "/dev/stdout", std::string(lying.begin(), lying.end()));
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.out.find(kWriteFailed), std::string::npos);
}

TEST(StretchPipes, PipedInputIntoAFileGetsAnExactHeader) {
    ScratchDir dir;
    Bytes lying = WavFile(8000, Ramp(7000));
    lying[40] = 0x10;  // declares a few bytes more than follow
    const RunResult r = Stretch("/dev/stdin", dir / "out.wav", std::string(lying.begin(), lying.end()));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "out.wav"), ExpectedStretchFile(lying));
}

}  // namespace
}  // namespace tolvane::test
