#include "recorded_file.h"

#include <algorithm>

namespace tolvane::test {

::testing::AssertionResult IsWholeSecondsWav(const Bytes& file) {
    if (file.size() < 44) return ::testing::AssertionFailure() << "only " << file.size() << " bytes";
    const std::uint32_t dataSize = U32At(file, 40);
    const Bytes expected = WavHeaderBytes(8000, dataSize);
    if (!std::equal(expected.begin(), expected.end(), file.begin())) {
        return ::testing::AssertionFailure() << "header is not that of 8000 Hz mono 16-bit PCM with data size "
                                             << dataSize << " (RIFF size " << U32At(file, 4) << ")";
    }
    if (file.size() != 44 + std::size_t{dataSize}) {
        return ::testing::AssertionFailure() << "header states " << dataSize << " data bytes, the file holds "
                                             << file.size() - 44;
    }
    if (dataSize % kSecondBytes != 0) {
        return ::testing::AssertionFailure() << "data size " << dataSize << " is not whole seconds";
    }
    return ::testing::AssertionSuccess() << dataSize / kSecondBytes << " whole seconds";
}

std::uint32_t HeaderSeconds(const Bytes& file) { return U32At(file, 40) / kSecondBytes; }

std::string RecordedLine(std::uint32_t seconds, const std::string& path) {
    return "Recorded " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") + " to " + path + "\n";
}

}  // namespace tolvane::test
