// The canonical 44-byte PCM WAV header that every file we write starts with.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

namespace tolvane {

// 44 bytes: RIFF header (12) + "fmt " chunk (8 + 16) + "data" chunk header (8).
constexpr size_t kWavHeaderSize = 44;

// Samples in a WAV data chunk are 16-bit, one channel.
constexpr uint32_t kBytesPerSample = 2;

// What the RIFF size counts besides the samples: "WAVE" (4), the fmt chunk
// (8 + 16) and the data chunk's own id and size (8).
constexpr uint32_t kRiffSizeOverhead = 36;

// The raw bytes of a header, ready to be written as they stand.
struct WavHeader {
    unsigned char bytes[kWavHeaderSize];
};

// Builds the header for `sampleCount` 16-bit mono PCM samples at `sampleRate`.
// Sizes are unsigned 32-bit, so they match the signed fields byte for byte
// below 2 GiB and keep the full RIFF range above it.
WavHeader MakeWavHeader(uint32_t sampleRate, uint32_t sampleCount);

// Writes MakeWavHeader(sampleRate, sampleCount) at the stream's current
// position. Returns true when all 44 bytes were accepted by the stream.
bool WriteWavHeader(FILE* stream, uint32_t sampleRate, uint32_t sampleCount);

// The data-size field (bytes 40..43) of an input header, as a little-endian
// signed 32-bit value. No other field is looked at.
int32_t ReadWavDataSize(const unsigned char* headerBytes);

}  // namespace tolvane
