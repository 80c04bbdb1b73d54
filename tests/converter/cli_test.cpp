// The converter through the host program: bytes, lines and exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "files.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

const std::string kDone = "Time stretch effect applied and saved to output.wav\n";

RunResult Stretch(const std::string& in, const std::string& out) { return RunProgram({TOLVANE_CLI, "stretch", in, out}); }

struct Case {
    const char* name;
    Bytes input;
};

// `file` with a header that declares `dataSize` bytes of samples.
Bytes Declaring(std::uint32_t dataSize, Bytes file) {
    const Bytes header = WavHeaderBytes(8000, dataSize);
    std::copy(header.begin(), header.end(), file.begin());
    return file;
}

std::vector<Case> Cases() {
    std::mt19937 random(12345);
    std::vector<std::int16_t> noise(10000);
    for (auto& s : noise) s = static_cast<std::int16_t>(random());
    Bytes oddTail = WavFile(8000, Ramp(8192));
    oddTail.push_back(0x7F);
    return {
        {"empty file", {}},
        {"short header", Bytes(43, 0x11)},
        {"header only", WavHeaderBytes(8000, 0)},
        {"four samples", WavFile(8000, Ramp(4))},
        {"ten samples", WavFile(8000, Ramp(10))},
        {"one block", WavFile(8000, Ramp(4096))},
        {"two blocks", WavFile(8000, Ramp(8192))},
        {"odd final byte", oddTail},
        {"noise", WavFile(8000, noise)},
        {"header declares more", Declaring(1000000, WavFile(8000, Ramp(5000)))},
        {"header declares fewer", Declaring(2, WavFile(8000, Ramp(9000)))},
        {"header declares negative", Declaring(0xFFFFFFFEu, WavFile(8000, Ramp(100)))},
        {"not a WAV at all", Bytes(20000, 0xC3)},
    };
}

TEST(StretchCli, OutputIsTheRuleAppliedToEveryInput) {
    ScratchDir dir;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / "in.wav", c.input);
        const RunResult r = Stretch(dir / "in.wav", dir / "out.wav");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, kDone);
        EXPECT_EQ(r.err, "");
        const Bytes out = ReadFile(dir / "out.wav");
        EXPECT_EQ(out, ExpectedStretchFile(c.input));
        EXPECT_EQ(U32At(out, 40), out.size() - 44) << "header must state exactly the samples that follow";
    }
}

TEST(StretchCli, SelectionRestartsAtEveryBlock) {
    ScratchDir dir;
    WriteFile(dir / "in.wav", WavFile(8000, Ramp(8192)));
    ASSERT_EQ(Stretch(dir / "in.wav", dir / "out.wav").exitCode, 0);
    const auto samples = SamplesOf(ReadFile(dir / "out.wav"));
    ASSERT_EQ(samples.size(), 1638u);
    EXPECT_EQ(samples[818], 4090);
    EXPECT_EQ(samples[819], 4096);  // 6 apart across the boundary
    EXPECT_EQ(samples[1637], 8186);
}

TEST(StretchCli, LongInputStreamsThroughManyReads) {
    // Longer than several of the converter's reads, and not a whole number of
    // blocks, so staging and page-sized writes are crossed many times.
    ScratchDir dir;
    const Bytes input = WavFile(8000, Ramp(4096 * 37 + 1234, 77));
    WriteFile(dir / "in.wav", input);
    ASSERT_EQ(Stretch(dir / "in.wav", dir / "out.wav").exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "out.wav"), ExpectedStretchFile(input));
}

TEST(StretchCli, ExistingOutputIsReplacedWhole) {
    ScratchDir dir;
    WriteFile(dir / "out.wav", Bytes(300000, 0xEE));
    const Bytes input = WavFile(8000, Ramp(20000));
    WriteFile(dir / "in.wav", input);
    ASSERT_EQ(Stretch(dir / "in.wav", dir / "out.wav").exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "out.wav"), ExpectedStretchFile(input));
}

TEST(StretchCli, NonAsciiPathsReachTheFile) {
    ScratchDir dir;
    const std::string in = dir / "\xce\xb1\xce\xb2 \xe4\xb8\xad\xf0\x9f\x8e\xb5.wav";  // αβ 中🎵
    const std::string out = dir / "\xc3\xa9t\xc3\xa9 \xf0\x9f\x8e\xb6.wav";          // été 🎶
    WriteFile(in, WavFile(8000, Ramp(50)));
    ASSERT_EQ(Stretch(in, out).exitCode, 0);
    EXPECT_EQ(SamplesOf(ReadFile(out)).size(), 10u);
}

TEST(StretchCli, UsageAndVersion) {
    const RunResult help = RunProgram({TOLVANE_CLI, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("tolvane stretch IN.wav OUT.wav"), std::string::npos);
    const RunResult version = RunProgram({TOLVANE_CLI, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "tolvane 1.0.0.1\n");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {TOLVANE_CLI}, {TOLVANE_CLI, "bogus"}, {TOLVANE_CLI, "stretch", "only-one"},
             {TOLVANE_CLI, "stretch", "a", "b", "c"}}) {
        const RunResult r = RunProgram(args);
        EXPECT_EQ(r.exitCode, 2) << args.back();
        EXPECT_NE(r.err.find("usage"), std::string::npos) << args.back();
        EXPECT_EQ(r.out, "") << args.back();
    }
    // A name that is not UTF-8 has no UTF-16 spelling to hand the library.
    const RunResult bad = RunProgram({TOLVANE_CLI, "stretch", "bad\xff.wav", "out.wav"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("UTF-8"), std::string::npos);
    EXPECT_EQ(bad.out, "");
}

}  // namespace
}  // namespace tolvane::test
