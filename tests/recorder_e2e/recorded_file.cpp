#include "recorded_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <thread>

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

bool WaitForFirstSecond(const std::string& path, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        // Under its name being written, or already finished.
        for (const std::string& name : {path + ".part", path}) {
            struct stat info {};
            if (::stat(name.c_str(), &info) == 0 && info.st_size >= static_cast<off_t>(44 + kSecondBytes)) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

RampLoss MeasureRampLoss(const std::vector<std::int16_t>& samples) {
    RampLoss loss;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const auto step = static_cast<std::uint16_t>(static_cast<std::uint16_t>(samples[i]) -
                                                     static_cast<std::uint16_t>(samples[i - 1]));
        if (step == 1) continue;
        ++loss.breaks;
        loss.samples += step < 32768 ? step - 1 : step - 65536 - 1;
    }
    return loss;
}

}  // namespace tolvane::test
