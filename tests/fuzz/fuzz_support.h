// What the fuzz targets share: a scratch directory in memory, whole files,
// exactly sized copies of what the code under test reads, and the check that
// turns a wrong result into a finding.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace tolvane::fuzz {

// A wrong result is reported like a sanitizer's finding, so that libFuzzer
// keeps the input; the line goes where sanitizer reports go, which stays open
// when the run discards the targets' own output.
[[noreturn]] inline void Fail(const char* what) {
    __sanitizer_report_error_summary(what);
    std::abort();
}

inline void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

// A fresh directory on /dev/shm (the disk is far slower at thousands of
// files a second), removed when the run ends normally. Its name outlives the
// static destructors that run before the removal.
inline const std::string& ScratchDir() {
    static const std::string& dir = *new std::string([] {
        std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        pattern += "/tolvane-fuzz-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchDir(), ignored);
        });
        return pattern;
    }());
    return dir;
}

inline void WriteWhole(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(out.good(), "cannot write a scratch file");
}

inline std::vector<unsigned char> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tests' scratch names are ASCII: one code unit a byte.
inline std::u16string Ascii16(const std::string& text) { return {text.begin(), text.end()}; }

// `units` and a terminator in a heap block of exactly that size, so that a
// read past the terminator is caught.
inline std::unique_ptr<char16_t[]> Terminated(const std::u16string& units) {
    std::unique_ptr<char16_t[]> copy(new char16_t[units.size() + 1]);
    std::copy(units.begin(), units.end(), copy.get());
    copy[units.size()] = 0;
    return copy;
}

}  // namespace tolvane::fuzz
