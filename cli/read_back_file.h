// The file being recorded, opened a second time for reading while the
// library writes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utf16_args.h"

namespace tolvane::cli {

class ReadBackFile {
public:
    ReadBackFile() = default;
    ~ReadBackFile();
    ReadBackFile(const ReadBackFile&) = delete;
    ReadBackFile& operator=(const ReadBackFile&) = delete;

    // Opens the file by the spelling its platform's file system takes: the
    // UTF-8 argument on POSIX, the UTF-16 name on Windows. Sharing is left
    // open, so the writer goes on undisturbed.
    bool Open(const char* utf8Path, const Utf16Path& utf16Path);
    bool IsOpen() const { return handle_ != kClosed; }

    // Reads exactly `size` bytes at `offset`; false when fewer are there.
    bool ReadAt(std::uint64_t offset, void* into, std::size_t size);

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // a descriptor or a HANDLE
};

}  // namespace tolvane::cli
