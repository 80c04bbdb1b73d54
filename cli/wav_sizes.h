// The two size fields of a recording's 44-byte header, as `tolvane record`
// rewrites them when it cuts a recording short.
#pragma once

#include <cstdint>

namespace tolvane::cli {

constexpr std::uint64_t kRiffSizeOffset = 4;
constexpr std::uint64_t kDataSizeOffset = 40;
constexpr std::uint64_t kHeaderBytes = 44;
constexpr std::uint32_t kSecondBytes = 8000 * 2;  // one second of 16-bit samples

struct WavSizes {
    unsigned char riff[4];  // little-endian: data + 36
    unsigned char data[4];  // little-endian: the samples' bytes
    std::uint64_t fileBytes;
};

inline WavSizes SizesFor(std::uint32_t seconds) {
    const std::uint32_t data = seconds * kSecondBytes;
    const std::uint32_t riff = data + static_cast<std::uint32_t>(kHeaderBytes - 8);
    WavSizes sizes{};
    for (int i = 0; i < 4; ++i) {
        sizes.riff[i] = static_cast<unsigned char>(riff >> (8 * i));
        sizes.data[i] = static_cast<unsigned char>(data >> (8 * i));
    }
    sizes.fileBytes = kHeaderBytes + data;
    return sizes;
}

}  // namespace tolvane::cli
