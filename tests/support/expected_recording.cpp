#include "expected_recording.h"

namespace tolvane::test {

Bytes ExpectedRecording(std::uint32_t seconds, FillSecond fill, std::uint32_t first) {
    constexpr std::size_t kSecondBytes = 8000 * 2;
    Bytes bytes = WavHeaderBytes(8000, seconds * static_cast<std::uint32_t>(kSecondBytes));
    const std::size_t header = bytes.size();
    bytes.resize(header + std::size_t{seconds} * kSecondBytes);
    for (std::uint32_t s = 0; s < seconds; ++s) fill(first + s, bytes.data() + header + s * kSecondBytes, kSecondBytes);
    return bytes;
}

}  // namespace tolvane::test
