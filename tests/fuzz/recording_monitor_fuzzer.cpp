// A recording file that another process keeps changing, in any way, read back
// by the monitor `tolvane record` shows: every second it counts is one the
// header counts and the file holds whole, its levels are those of that
// second's bytes, and the status line stays in range.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "recording_monitor.h"

using namespace tolvane::fuzz;

namespace {

constexpr std::size_t kHeader = 44;
constexpr std::size_t kSecond = 16000;
// Eight seconds: enough to count, shrink and count again, quick to read.
constexpr std::size_t kLargest = kHeader + 8 * kSecond;

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    unsigned Next() { return at < size ? data[at++] : 0; }
    unsigned Next16() { return Next() | Next() << 8; }
};

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return at + 4 <= b.size() ? std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 |
                                    std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 3]} << 24
                              : 0;
}

// The model's own loops are left out of the coverage that steers the fuzzer:
// only the monitor's paths should count, and they are most of the time.
__attribute__((no_sanitize("coverage"))) void Append(std::vector<std::uint8_t>& file, std::size_t bytes,
                                                  unsigned sample) {
    for (std::size_t i = 0; i < bytes; ++i) file.push_back(static_cast<std::uint8_t>(i % 2 ? sample >> 8 : sample));
}

// The peak of second `s` and the clipped samples in it.
__attribute__((no_sanitize("coverage"))) int SecondPeak(const std::vector<std::uint8_t>& file, std::size_t s,
                                                     std::uint64_t& clipped) {
    int peak = 0;
    for (std::size_t i = kHeader + s * kSecond; i < kHeader + (s + 1) * kSecond; i += 2) {
        const int sample = static_cast<std::int16_t>(file[i] | file[i + 1] << 8);
        peak = std::max(peak, std::abs(sample));
        clipped += sample == 32767 || sample == -32768;
    }
    return peak;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchDir() + "/take.wav";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Check(fd >= 0, "cannot make the recording file");
    tolvane::cli::RecordingMonitor monitor;
    Check(monitor.Open(path.c_str(), {}), "monitor: cannot open the file");

    // The file as the writer leaves it after each step, kept here too.
    std::vector<std::uint8_t> file;
    Reader in{data, size};
    while (in.at < size) {
        const unsigned op = in.Next();
        std::size_t changed = file.size();  // only what changed is written again
        if (op % 4 == 0) {  // a run of one sample value, as a second of sound
            const std::size_t bytes = std::min<std::size_t>(kLargest - file.size(), (in.Next() + 1) * 256);
            const unsigned sample = in.Next16();
            Append(file, bytes, sample);
        } else if (op % 4 == 1) {  // any bytes anywhere, the header included
            const std::size_t offset = std::min<std::size_t>(kLargest, in.Next16() * 4);
            const std::size_t count = in.Next();
            changed = std::min(changed, offset);
            if (file.size() < offset) file.resize(offset);
            for (std::size_t i = 0; i < count && offset + i < kLargest; ++i) {
                if (offset + i == file.size()) file.push_back(0);
                file[offset + i] = static_cast<std::uint8_t>(in.Next());
            }
        } else if (op % 4 == 2) {  // cut short
            file.resize(std::min<std::size_t>(file.size(), in.Next16() * 4));
        } else {  // a header counting any number of bytes
            changed = std::min<std::size_t>(changed, 40);
            if (file.size() < kHeader) file.resize(kHeader);
            const std::uint32_t counted = in.Next16() * kSecond / 4 + in.Next() % 4;
            for (unsigned i = 0; i < 4; ++i) file[40 + i] = static_cast<std::uint8_t>(counted >> (8 * i));
        }
        changed = std::min(changed, file.size());
        const std::size_t rest = file.size() - changed;
        Check(::ftruncate(fd, static_cast<off_t>(file.size())) == 0 &&
                  ::pwrite(fd, file.data() + changed, rest, static_cast<off_t>(changed)) == static_cast<ssize_t>(rest),
              "cannot write the recording file");

        const tolvane::cli::RecordingLevels before = monitor.levels();
        const bool landed = monitor.Update();
        const tolvane::cli::RecordingLevels& after = monitor.levels();
        if (!landed) {
            Check(after.savedSeconds == before.savedSeconds && after.lastPeak == before.lastPeak &&
                      after.clippedSamples == before.clippedSamples,
                  "monitor: levels changed with no second landed");
            continue;
        }
        const std::size_t held = file.size() < kHeader ? 0 : (file.size() - kHeader) / kSecond;
        Check(after.savedSeconds > before.savedSeconds &&
                  after.savedSeconds <= std::min<std::size_t>(held, Le32(file, 40) / kSecond),
              "monitor: more seconds saved than the file holds");
        int peak = 0;
        std::uint64_t clipped = before.clippedSamples;
        for (std::size_t s = before.savedSeconds; s < after.savedSeconds; ++s) peak = SecondPeak(file, s, clipped);
        Check(after.lastPeak == peak && after.clippedSamples == clipped, "monitor: levels not those of the bytes");
        const double db = tolvane::cli::PeakDbfs(after.lastPeak);
        Check(db <= 0.0 && !std::isnan(db), "monitor: a level above full scale");
        const std::string line = tolvane::cli::StatusLine(static_cast<std::int64_t>(Le32(file, 40)) * 1000, after);
        Check(line.size() < 120 && line.find("saved " + std::to_string(after.savedSeconds) + " s") != std::string::npos,
              "monitor: a status line out of shape");
    }
    ::close(fd);
    return 0;
}
