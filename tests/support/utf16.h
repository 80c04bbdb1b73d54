// Paths as the library takes them: UTF-16 code units.
#pragma once

#include <filesystem>
#include <string>

namespace tolvane::test {

// The tests' own scratch paths are ASCII, so each byte is one code unit.
inline std::u16string Utf16(const std::filesystem::path& path) {
    const std::string narrow = path.string();
    return std::u16string(narrow.begin(), narrow.end());
}

}  // namespace tolvane::test
