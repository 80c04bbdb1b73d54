#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "wav/wav_header.h"

namespace tolvane {
namespace {

std::string Hex(const WavHeader& h) {
    std::string out;
    char buf[4];
    for (unsigned char b : h.bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

TEST(WavHeader, EmptyConverterOutputIsTheCanonicalHeader) {
    // "RIFF" 36 "WAVE" "fmt " 16 1 1 1600 3200 2 16 "data" 0
    EXPECT_EQ(Hex(MakeWavHeader(1600, 0)),
              "52494646" "24000000" "57415645" "666d7420" "10000000" "0100" "0100"
              "40060000" "800c0000" "0200" "1000" "64617461" "00000000");
}

TEST(WavHeader, SizesFollowRateAndCount) {
    const WavHeader h = MakeWavHeader(8000, 3 * 8000);
    // byte rate 16000, data 48000, RIFF 48036
    EXPECT_EQ(Hex(h).substr(48, 16), "401f0000803e0000");
    EXPECT_EQ(Hex(h).substr(80), "80bb0000");
    EXPECT_EQ(Hex(h).substr(8, 8), "a4bb0000");
}

TEST(WavHeader, SizesAboveTwoGibibytesAreUnsigned) {
    // 2^30 samples = 2^31 data bytes: the bytes a signed field would wrap to.
    const WavHeader h = MakeWavHeader(8000, 1u << 30);
    EXPECT_EQ(Hex(h).substr(80), "00000080");
    EXPECT_EQ(Hex(h).substr(8, 8), "24000080");
}

TEST(WavHeader, WriteWavHeaderWritesTheSameBytes) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(WriteWavHeader(f, 1600, 819));
    std::rewind(f);
    unsigned char back[kWavHeaderSize];
    ASSERT_EQ(std::fread(back, 1, sizeof back, f), sizeof back);
    std::fclose(f);
    const WavHeader expected = MakeWavHeader(1600, 819);
    EXPECT_EQ(0, std::memcmp(back, expected.bytes, kWavHeaderSize));
}

TEST(WavHeader, DataSizeIsReadAsSignedLittleEndian) {
    unsigned char header[kWavHeaderSize] = {};
    header[40] = 0xFE, header[41] = 0xFF, header[42] = 0xFF, header[43] = 0xFF;
    EXPECT_EQ(ReadWavDataSize(header), -2);
    header[40] = 0x00, header[41] = 0x00, header[42] = 0x00, header[43] = 0x80;
    EXPECT_EQ(ReadWavDataSize(header), INT32_MIN);
    header[40] = 0x10, header[41] = 0x27, header[42] = 0x00, header[43] = 0x00;
    EXPECT_EQ(ReadWavDataSize(header), 10000);
    // Nothing but bytes 40..43 matters.
    for (int i = 0; i < 40; ++i) header[i] = 0xAB;
    EXPECT_EQ(ReadWavDataSize(header), 10000);
}

}  // namespace
}  // namespace tolvane
