#include "wav_bytes.h"

namespace tolvane::test {
namespace {

void Put(Bytes& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(tag[i]));
}

void Put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void Put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

}  // namespace

Bytes WavHeaderBytes(std::uint32_t rate, std::uint32_t dataSize) {
    Bytes out;
    Put(out, "RIFF");
    Put32(out, dataSize + 36);
    Put(out, "WAVE");
    Put(out, "fmt ");
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, 1);
    Put32(out, rate);
    Put32(out, rate * 2);
    Put16(out, 2);
    Put16(out, 16);
    Put(out, "data");
    Put32(out, dataSize);
    return out;
}

Bytes WavFile(std::uint32_t rate, const std::vector<std::int16_t>& samples) {
    Bytes out = WavHeaderBytes(rate, static_cast<std::uint32_t>(samples.size() * 2));
    for (std::int16_t s : samples) Put16(out, static_cast<std::uint16_t>(s));
    return out;
}

std::vector<std::int16_t> Ramp(std::size_t count, std::uint32_t first) {
    std::vector<std::int16_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((first + i) & 0xFFFF));
    }
    return out;
}

std::vector<std::int16_t> SamplesOf(const Bytes& file) {
    std::vector<std::int16_t> out;
    for (std::size_t i = 44; i + 1 < file.size(); i += 2) {
        out.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(file[i] | (file[i + 1] << 8))));
    }
    return out;
}

std::vector<std::int16_t> ExpectedStretch(const Bytes& inputFile) {
    const std::vector<std::int16_t> in = SamplesOf(inputFile);
    std::vector<std::int16_t> out;
    for (std::size_t block = 0; block < in.size(); block += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, in.size() - block);
        for (std::size_t j = 0; j < n / 5; ++j) out.push_back(in[block + 5 * j]);
    }
    return out;
}

Bytes ExpectedStretchFile(const Bytes& inputFile) { return WavFile(1600, ExpectedStretch(inputFile)); }

std::uint32_t U32At(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) | (static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8) |
           (static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16) |
           (static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24);
}

}  // namespace tolvane::test
