#include "wav/wav_header.h"

#include <string.h>

namespace tolvane {
namespace {

// Little-endian writers: the bytes never depend on the host's byte order or on
// how a structure would lie in memory.
unsigned char* PutTag(unsigned char* out, const char (&tag)[5]) {
    memcpy(out, tag, 4);
    return out + 4;
}

unsigned char* PutU16(unsigned char* out, uint16_t value) {
    out[0] = static_cast<unsigned char>(value & 0xFFu);
    out[1] = static_cast<unsigned char>(value >> 8);
    return out + 2;
}

unsigned char* PutU32(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value & 0xFFu);
    out[1] = static_cast<unsigned char>((value >> 8) & 0xFFu);
    out[2] = static_cast<unsigned char>((value >> 16) & 0xFFu);
    out[3] = static_cast<unsigned char>(value >> 24);
    return out + 4;
}

constexpr uint32_t kFmtChunkSize = 16;    // PCM "fmt " body: no extension.
constexpr uint16_t kFormatPcm = 1;        // WAVE_FORMAT_PCM.
constexpr uint16_t kChannels = 1;         // mono.
constexpr uint16_t kBitsPerSample = 16;
constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
static_assert(kRiffSizeOverhead == 4 + 8 + kFmtChunkSize + 8);

}  // namespace

WavHeader MakeWavHeader(uint32_t sampleRate, uint32_t sampleCount) {
    const uint32_t dataSize = sampleCount * kBytesPerSample;
    WavHeader header{};
    unsigned char* p = header.bytes;
    p = PutTag(p, "RIFF");
    p = PutU32(p, dataSize + kRiffSizeOverhead);
    p = PutTag(p, "WAVE");
    p = PutTag(p, "fmt ");
    p = PutU32(p, kFmtChunkSize);
    p = PutU16(p, kFormatPcm);
    p = PutU16(p, kChannels);
    p = PutU32(p, sampleRate);
    p = PutU32(p, sampleRate * kBlockAlign);  // byte rate
    p = PutU16(p, kBlockAlign);
    p = PutU16(p, kBitsPerSample);
    p = PutTag(p, "data");
    PutU32(p, dataSize);
    return header;
}

bool WriteWavHeader(FILE* stream, uint32_t sampleRate, uint32_t sampleCount) {
    const WavHeader header = MakeWavHeader(sampleRate, sampleCount);
    return fwrite(header.bytes, 1, kWavHeaderSize, stream) == kWavHeaderSize;
}

int32_t ReadWavDataSize(const unsigned char* headerBytes) {
    const unsigned char* p = headerBytes + 40;
    const uint32_t raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    // Two's complement reinterpretation without implementation-defined casts.
    return raw <= 0x7FFFFFFFu ? static_cast<int32_t>(raw)
                              : -static_cast<int32_t>(~raw) - 1;
}

}  // namespace tolvane
