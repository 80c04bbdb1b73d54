// The converter through the host program: bytes, lines and exit codes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <random>
#include <string>
#include <vector>

#include "files.h"
#include "stretch_call.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

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

// The batch form: IN... -o DIR.

std::string Lines(std::size_t count, const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += line;
    return out;
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(StretchBatch, WritesWhatTheTwoPathFormWritesWhateverTheJobs) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "in");
    std::vector<std::string> inputs;
    for (const Case& c : Cases()) {
        inputs.push_back(dir / ("in/" + std::string(c.name) + ".wav"));
        WriteFile(inputs.back(), c.input);
    }
    inputs.push_back(dir / "in/\xc3\xa9t\xc3\xa9 \xf0\x9f\x8e\xb6.wav");
    WriteFile(inputs.back(), WavFile(8000, Ramp(9000)));
    std::string list;
    for (const std::string& in : inputs) list += in + "\n";

    // Positional inputs on one thread, then the same list on standard input on four.
    std::vector<std::string> one = {TOLVANE_CLI, "stretch", "-j", "1", "-o", dir / "one"};
    one.insert(one.end(), inputs.begin(), inputs.end());
    const std::vector<std::pair<std::string, RunResult>> runs = {
        {"one", (std::filesystem::create_directory(dir / "one"), RunProgram(one))},
        {"four", (std::filesystem::create_directory(dir / "four"),
                  RunProgram({TOLVANE_CLI, "stretch", "--files-from", "-", "--jobs=4", "--output-dir", dir / "four"},
                             list))}};
    for (const auto& [name, r] : runs) {
        SCOPED_TRACE(name);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, Lines(inputs.size(), kDone));  // whole lines, however the threads ran
        // No progress line off a terminal: the summary alone.
        EXPECT_EQ(r.err.rfind("Converted 14 files (", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    for (const std::string& in : inputs) {
        const std::string name = std::filesystem::path(in).filename();
        SCOPED_TRACE(name);
        ASSERT_EQ(Stretch(in, dir / "single.wav").exitCode, 0);
        const Bytes single = ReadFile(dir / "single.wav");
        EXPECT_EQ(ReadFile(dir / ("one/" + name)), single);
        EXPECT_EQ(ReadFile(dir / ("four/" + name)), single);
    }
}

TEST(StretchBatch, FailedFilesAreNamedAndTheOthersStillConverted) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_directories(dir / "a directory.wav");
    const Bytes good = WavFile(8000, Ramp(40000));
    WriteFile(dir / "a.wav", good);
    WriteFile(dir / "b.wav", good);
    const RunResult r = RunProgram({TOLVANE_CLI, "stretch", dir / "a.wav", dir / "missing.wav",
                                    dir / "a directory.wav", dir / "b.wav", "-o", dir / "out", "-j2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(dir / "missing.wav"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(dir / "a directory.wav"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Converted 2 files"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 failed"), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir / "out"), (std::vector<std::string>{"a.wav", "b.wav"}));
    EXPECT_EQ(ReadFile(dir / "out/a.wav"), ExpectedStretchFile(good));
    EXPECT_EQ(ReadFile(dir / "out/b.wav"), ExpectedStretchFile(good));
}

TEST(StretchBatch, RefusesBeforeTouchingAnything) {
    ScratchDir dir;
    for (const char* sub : {"in", "other", "out"}) std::filesystem::create_directories(dir / sub);
    const Bytes input = WavFile(8000, Ramp(5000));
    const Bytes kept(1000, 0xAB);
    WriteFile(dir / "in/a.wav", input);
    WriteFile(dir / "other/a.wav", input);
    WriteFile(dir / "other/b.wav", input);
    WriteFile(dir / "out/b.wav", kept);
    WriteFile(dir / "out/c.wav", kept);
    ASSERT_EQ(::symlink((dir / "out/b.wav").c_str(), (dir / "in/link.wav").c_str()), 0);
    const std::string in = dir / "in/a.wav";
    const std::string out = dir / "out";
    // Each: the arguments after "stretch", and what the message must name.
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> refused = {
        {{in, dir / "other/a.wav", "-o", out}, {in, dir / "other/a.wav"}},
        {{in, "-o", dir / "nowhere"}, {dir / "nowhere"}},
        {{in, "-o", in}, {in}},
        {{in, dir / "out/c.wav", "-o", out}, {dir / "out/c.wav"}},
        {{dir / "in/link.wav", dir / "other/b.wav", "-o", out}, {dir / "in/link.wav", dir / "other/b.wav"}},
        {{in, dir / "in/", "-o", out}, {dir / "in/"}},
        {{in, "-o", out, "-j", "0"}, {"-j"}},
        {{in, "-o", out, "--jobs=many"}, {"--jobs"}},
        {{in, "-o", out, "--bogus"}, {"--bogus"}},
        {{in, "-o", out, "--files-from", dir / "no list"}, {dir / "no list"}},
        {{in, dir / "other/a.wav", "-j", "2"}, {"-o DIR"}},
        {{in, "-o"}, {"-o"}},
    };
    for (const auto& [args, named] : refused) {
        std::vector<std::string> argv = {TOLVANE_CLI, "stretch"};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult r = RunProgram(argv);
        SCOPED_TRACE(r.err);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        for (const std::string& path : named) EXPECT_NE(r.err.find(path), std::string::npos) << path;
    }
    EXPECT_EQ(Listing(out), (std::vector<std::string>{"b.wav", "c.wav"}));
    EXPECT_EQ(ReadFile(dir / "out/b.wav"), kept);
    EXPECT_EQ(ReadFile(dir / "out/c.wav"), kept);
    EXPECT_EQ(ReadFile(in), input);
}

TEST(StretchBatch, StopRequestFinishesTheFileUnderWayAndStartsNoOther) {
    // The first input is a FIFO: its conversion is under way, and held there,
    // until the test writes into it.
    ScratchDir dir;
    std::filesystem::create_directories(dir / "out");
    ASSERT_EQ(::mkfifo((dir / "first.wav").c_str(), 0600), 0);
    const Bytes input = WavFile(8000, Ramp(30000));
    WriteFile(dir / "second.wav", input);
    WriteFile(dir / "third.wav", input);
    RunningProgram batch({TOLVANE_CLI, "stretch", "-j", "1", "-o", dir / "out", dir / "first.wav",
                          dir / "second.wav", dir / "third.wav"});
    int fifo = -1;
    for (int i = 0; i < 1000 && fifo < 0; ++i) {  // opens once the converter has it open
        fifo = ::open((dir / "first.wav").c_str(), O_WRONLY | O_NONBLOCK);
        if (fifo < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(fifo, 0);
    batch.Signal(SIGTERM);
    // Until the program has taken the signal, then a little for it to act.
    const std::string status = "/proc/" + std::to_string(batch.Pid()) + "/status";
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(status);
        std::string line;
        while (std::getline(in, line) && line.rfind("ShdPnd:", 0) != 0) {
        }
        if (std::stoull(line.substr(7), nullptr, 16) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::fcntl(fifo, F_SETFL, 0);
    ASSERT_EQ(::write(fifo, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fifo);
    const RunResult r = batch.Finish(std::chrono::seconds(60));
    EXPECT_EQ(r.exitCode, 130);
    EXPECT_EQ(r.out, kDone);
    EXPECT_NE(r.err.find("Stopped: converted 1 of 3 files"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 not started"), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir / "out"), (std::vector<std::string>{"first.wav"}));
    EXPECT_EQ(ReadFile(dir / "out/first.wav"), ExpectedStretchFile(input));
}

}  // namespace
}  // namespace tolvane::test
