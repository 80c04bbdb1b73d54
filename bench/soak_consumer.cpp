// The uploader of bench/soak.sh: takes each finished file from the folder a
// recording rotates into, as a program syncing it elsewhere would (only
// complete files, never a *.part), checks that it is a whole-seconds WAV of
// the test device's ramp continuing exactly from the last sample of the file
// before, and deletes it. Ends once the folder holds a file named .done and
// no recording; prints what it found as "key: value" lines.
//
//   soak_consumer FOLDER SPLIT_SECONDS     (0: the files have no set length)
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kSecondBytes = 16000;

struct Findings {
    std::uint64_t files = 0;
    std::uint64_t seconds = 0;
    std::uint64_t boundaries = 0;  // file ends checked against the next file's start
    std::uint64_t lost = 0;        // samples missing, at boundaries or within files
    std::uint64_t duplicated = 0;  // samples repeated
    std::uint64_t badFiles = 0;    // not a whole-seconds recorder WAV
    std::uint64_t offLength = 0;   // files of another length than SPLIT (the last one aside)
    std::uint64_t longest = 0;
    std::uint64_t shortest = UINT64_MAX;
    bool haveLast = false;
    std::uint16_t next = 0;  // the sample expected next
};

bool EndsWith(const std::string& s, const char* end) {
    const std::size_t n = std::strlen(end);
    return s.size() >= n && s.compare(s.size() - n, n, end) == 0;
}

std::uint32_t U32(const unsigned char* b) { return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24; }

// A step from the sample expected: forward is loss, back is repetition (the
// ramp wraps every 65536 samples, so a break of more than 4 s reads short).
void Step(Findings& f, std::uint16_t sample) {
    const auto gap = static_cast<std::uint16_t>(sample - f.next);
    if (gap != 0) (gap < 32768 ? f.lost += gap : f.duplicated += 65536u - gap);
    f.next = static_cast<std::uint16_t>(sample + 1);
}

void Take(const std::string& path, Findings& f, std::vector<std::uint64_t>& lengths) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    unsigned char header[44];
    if (file == nullptr || std::fread(header, 1, sizeof header, file) != sizeof header ||
        std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 36, "data", 4) != 0 ||
        U32(header + 40) % kSecondBytes != 0 || U32(header + 4) != U32(header + 40) + 36) {
        ++f.badFiles;
        if (file != nullptr) std::fclose(file);
        return;
    }
    const std::uint64_t data = U32(header + 40);
    static std::vector<unsigned char> buffer(1 << 20);
    std::uint64_t left = data;
    bool first = true;
    while (left > 0) {
        const std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
        if (std::fread(buffer.data(), 1, want, file) != want) {
            ++f.badFiles;
            break;
        }
        for (std::size_t i = 0; i < want; i += 2) {
            const auto sample = static_cast<std::uint16_t>(buffer[i] | buffer[i + 1] << 8);
            if (first) {
                if (f.haveLast) {
                    ++f.boundaries;
                    Step(f, sample);
                } else {
                    f.next = static_cast<std::uint16_t>(sample + 1);
                }
                first = false;
                f.haveLast = true;
                continue;
            }
            Step(f, sample);
        }
        left -= want;
    }
    if (std::fgetc(file) != EOF) ++f.badFiles;  // bytes the header does not count
    std::fclose(file);
    const std::uint64_t seconds = data / kSecondBytes;
    ++f.files;
    f.seconds += seconds;
    lengths.push_back(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: soak_consumer FOLDER SPLIT_SECONDS\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::uint64_t split = std::strtoull(argv[2], nullptr, 10);
    Findings f;
    std::vector<std::uint64_t> lengths;
    for (;;) {
        const bool done = ::access((folder + "/.done").c_str(), F_OK) == 0;
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                if (EndsWith(e->d_name, ".wav")) names.push_back(e->d_name);
            }
            ::closedir(dir);
        }
        // Names are the UTC time of the first sample, so their order is the
        // recording's.
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = folder + "/" + name;
            Take(path, f, lengths);
            ::unlink(path.c_str());
        }
        if (names.empty()) {
            if (done) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        f.longest = std::max(f.longest, lengths[i]);
        f.shortest = std::min(f.shortest, lengths[i]);
        if (split > 0 && i + 1 < lengths.size() && lengths[i] != split) ++f.offLength;
    }
    std::printf("files: %llu\nseconds: %llu\nboundaries checked: %llu\nsamples lost: %llu\nsamples duplicated: %llu\n"
                "files not whole: %llu\nfiles off the split length (the last aside): %llu\n"
                "longest file: %llu s\nshortest file: %llu s\n",
                static_cast<unsigned long long>(f.files), static_cast<unsigned long long>(f.seconds),
                static_cast<unsigned long long>(f.boundaries), static_cast<unsigned long long>(f.lost),
                static_cast<unsigned long long>(f.duplicated), static_cast<unsigned long long>(f.badFiles),
                static_cast<unsigned long long>(f.offLength), static_cast<unsigned long long>(f.longest),
                static_cast<unsigned long long>(f.files ? f.shortest : 0));
    return f.lost == 0 && f.duplicated == 0 && f.badFiles == 0 ? 0 : 1;
}
