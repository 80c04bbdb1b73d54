// What the batch form needs to know about paths before it writes anything:
// whether two names reach one file, and which output names would collide.
#pragma once

#include <cstdint>
#include <string>

#include "utf16_args.h"

namespace tolvane::cli {

struct FileFacts {
    bool exists = false;
    bool directory = false;
    // Two paths reach the same file exactly when both exist and these match.
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;  // in bytes; 0 for anything but a regular file
};

// Follows links, as opening the path would. The path in both spellings: each
// system takes the one its file calls use.
FileFacts FactsOf(const std::string& utf8, const Utf16Path& utf16);

// A key under which two file names in one directory name the same entry:
// the name itself, or on Windows, whose file names ignore case, its upper case.
Utf16Path FileNameKey(const Utf16Path& name);

}  // namespace tolvane::cli
