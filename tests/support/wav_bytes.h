// Test-side model of the files the library reads and writes, written
// independently of the library's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

using Bytes = std::vector<unsigned char>;

// A 44-byte PCM mono 16-bit header; `dataSize` is stored as given (a lying
// header is made by passing a size that does not match what follows).
Bytes WavHeaderBytes(std::uint32_t rate, std::uint32_t dataSize);

// A WAV whose header declares exactly the samples that follow it.
Bytes WavFile(std::uint32_t rate, const std::vector<std::int16_t>& samples);

// Samples 0, 1, 2, ... (wrapping at 2^16).
std::vector<std::int16_t> Ramp(std::size_t count, std::uint32_t first = 0);

// The converter's rule, applied to everything from byte 44 on: every fifth
// sample of each 4096-sample block, the selection restarting at each block.
std::vector<std::int16_t> ExpectedStretch(const Bytes& inputFile);

// A WAV at 1600 Hz holding exactly `samples`.
Bytes ExpectedStretchFile(const Bytes& inputFile);

// Little-endian 32-bit field at `offset`.
std::uint32_t U32At(const Bytes& bytes, std::size_t offset);

// The samples of a file from byte 44 on.
std::vector<std::int16_t> SamplesOf(const Bytes& file);

}  // namespace tolvane::test
