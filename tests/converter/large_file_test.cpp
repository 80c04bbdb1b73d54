// An input past 2 GiB through the host program, for 32-bit builds, where file
// offsets and sizes are the first thing to overflow. The input is sparse:
// a header, a hole, and one block of known samples at its far end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "files.h"
#include "stretch_call.h"
#include "wav_bytes.h"

namespace tolvane::test {
namespace {

constexpr std::uint64_t kBlock = 4096;
// 2^30 + 8192 samples: 2 GiB + 16 KiB of data, in whole blocks.
constexpr std::uint64_t kInputSamples = (std::uint64_t{1} << 30) + 2 * kBlock;
constexpr std::uint64_t kOutputSamples = 819 * (kInputSamples / kBlock);

bool WriteAt(int fd, const Bytes& bytes, std::uint64_t offset) {
    return ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(bytes.size());
}

TEST(StretchLargeFile, InputPast2GiBGivesTheWholeOutputAndAnExactHeader) {
    ScratchDir dir;
    const std::string in = dir / "in.wav";
    const std::string out = dir / "out.wav";
    const std::uint64_t inputBytes = 44 + 2 * kInputSamples;
    ASSERT_GT(inputBytes, std::uint64_t{1} << 31);
    {
        const int fd = ::open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        // The header declares nothing useful (its size field is 32-bit): the
        // real size has to come from the file.
        const Bytes tail = WavFile(8000, Ramp(kBlock, 1));
        const bool made = ::ftruncate(fd, static_cast<off_t>(inputBytes)) == 0 &&
                          WriteAt(fd, WavHeaderBytes(8000, 0xFFFFFFFF), 0) &&
                          WriteAt(fd, Bytes(tail.begin() + 44, tail.end()), inputBytes - 2 * kBlock);
        ::close(fd);
        ASSERT_TRUE(made);
    }

    const RunResult r = Stretch(in, out);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    struct stat info {};
    ASSERT_EQ(::stat(out.c_str(), &info), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), 44 + 2 * kOutputSamples);
    std::ifstream file(out, std::ios::binary);
    Bytes header(44);
    file.read(reinterpret_cast<char*>(header.data()), 44);
    EXPECT_EQ(header, WavHeaderBytes(1600, static_cast<std::uint32_t>(2 * kOutputSamples)));
    // The last block read, from past 2 GiB: samples 1, 6, 11, ... of the ramp.
    Bytes last(2 * 819);
    file.seekg(static_cast<std::streamoff>(info.st_size) - static_cast<std::streamoff>(last.size()));
    file.read(reinterpret_cast<char*>(last.data()), static_cast<std::streamsize>(last.size()));
    ASSERT_TRUE(file.good());
    Bytes expected;
    for (std::uint32_t j = 0; j < 819; ++j) {
        expected.push_back(static_cast<unsigned char>((5 * j + 1) & 0xFF));
        expected.push_back(static_cast<unsigned char>((5 * j + 1) >> 8));
    }
    EXPECT_EQ(last, expected);
}

}  // namespace
}  // namespace tolvane::test
