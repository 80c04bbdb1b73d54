#include "part_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform.h"
#include "read_back_file.h"
#include "recording_trim.h"
#include "utf16_args.h"
#include "wav_sizes.h"

namespace tolvane::cli {
namespace {

// Names are tried up to this number; past it something else is wrong.
constexpr std::uint32_t kMostNumbers = 100'000;

bool Taken(const std::string& path) {
    Utf16Path wide;
    // A name with no UTF-16 spelling cannot be created either.
    return !Utf8ToUtf16(path.c_str(), wide) || NameTaken(path, wide);
}

bool EndsWith(const std::string& text, const char* end) {
    const std::size_t n = std::strlen(end);
    return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

// What recovery makes of a .part file.
struct PartState {
    long seconds = -1;         // counted by its header; -1: not a recorder's file
    bool beingWritten = false; // a running recording holds it
    bool uncountedTail = false;  // bytes follow the counted seconds
};

// The seconds a recorder's file holds, when it begins with the header the
// recorder writes (8000 Hz mono 16-bit PCM), and whether it is still being
// recorded or holds more than its header counts.
PartState ReadPart(const std::string& path, const Utf16Path& wide) {
    PartState state;
    ReadBackFile file;
    unsigned char h[kHeaderBytes];
    if (!file.Open(path.c_str(), wide)) return state;
    if (file.OpenElsewhere()) {
        state.beingWritten = true;
        return state;
    }
    if (!file.ReadAt(0, h, sizeof h)) return state;
    const auto u16 = [&h](int at) { return h[at] | h[at + 1] << 8; };
    const auto u32 = [&h](int at) {
        return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16) | std::uint32_t{h[at + 3]} << 24;
    };
    const bool ours = std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVEfmt ", 8) == 0 && u32(16) == 16 &&
                      u16(20) == 1 && u16(22) == 1 && u32(24) == 8000 && u16(34) == 16 &&
                      std::memcmp(h + 36, "data", 4) == 0;
    if (!ours) return state;
    state.seconds = static_cast<long>(u32(static_cast<int>(kDataSizeOffset)) / kSecondBytes);
    unsigned char next = 0;
    state.uncountedTail =
        file.ReadAt(kHeaderBytes + static_cast<std::uint64_t>(state.seconds) * kSecondBytes, &next, 1);
    return state;
}

}  // namespace

std::string FinalNameOf(const std::string& part) {
    return EndsWith(part, kPartSuffix) ? part.substr(0, part.size() - std::strlen(kPartSuffix)) : part;
}

std::string FreeName(const std::string& wanted) {
    std::string name = wanted;
    for (std::uint32_t k = 2; k < kMostNumbers && (Taken(name) || Taken(name + kPartSuffix)); ++k) {
        name = NumberedPath(wanted, k);
    }
    return name;
}

bool FinishPart(const std::string& part, const std::string& wanted, std::string& finalPath) {
    finalPath = part;
    Utf16Path from;
    if (!Utf8ToUtf16(part.c_str(), from)) return false;
    std::string to = wanted;
    for (std::uint32_t k = 2; k < kMostNumbers; ++k) {
        Utf16Path wide;
        if (!Utf8ToUtf16(to.c_str(), wide)) return false;
        switch (RenameDurably(part, from, to, wide)) {
            case RenameResult::kRenamed: finalPath = to; return true;
            case RenameResult::kFailed: return false;
            case RenameResult::kTaken: to = NumberedPath(wanted, k); break;
        }
    }
    return false;
}

void RecoverParts(const FileNamePattern& pattern) {
    std::vector<std::string> names;
    if (!ListFolder(pattern.folder(), names)) return;  // Start says what is wrong with the folder
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!EndsWith(name, kPartSuffix)) continue;
        const std::string stem = FinalNameOf(name);
        const std::string part = pattern.folder() + name;
        if (!pattern.MayHaveMade(stem)) continue;
        Utf16Path wide;
        if (!Utf8ToUtf16(part.c_str(), wide)) continue;
        const PartState state = ReadPart(part, wide);
        if (state.beingWritten) {
            std::fprintf(stderr, "tolvane record: %s is left alone: a recording that still runs writes it\n",
                         part.c_str());
            continue;
        }
        const long seconds = state.seconds;
        if (seconds < 0) continue;
        // A power cut may leave the second written last (durable, but not
        // yet counted on storage) or part of one behind the counted
        // seconds: cut off, so that the file handed over is exactly what its
        // header says, as every finished file is.
        bool headerCounts = false;
        if (state.uncountedTail && !TrimRecording(part.c_str(), wide, static_cast<std::uint32_t>(seconds), headerCounts)) {
            std::fprintf(stderr, "tolvane record: cannot cut %s back to the %ld s its header counts\n", part.c_str(),
                         seconds);
        }
        std::string finalPath;
        if (FinishPart(part, pattern.folder() + stem, finalPath)) {
            std::fprintf(stderr, "tolvane record: recovered %s, left unfinished by an earlier recording, as %s (%ld s)\n",
                         part.c_str(), finalPath.c_str(), seconds);
        } else {
            std::fprintf(stderr, "tolvane record: cannot give %s, left unfinished by an earlier recording, its final name\n",
                         part.c_str());
        }
    }
}

}  // namespace tolvane::cli
