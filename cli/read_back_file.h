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
    //
    // On POSIX the file is also marked as read by this process (a shared
    // advisory lock) for as long as it stays open, so that another
    // recording's recovery can tell a .part that a running recording is
    // still writing from one that a power cut left.
    bool Open(const char* utf8Path, const Utf16Path& utf16Path);
    bool IsOpen() const { return handle_ != kClosed; }

    // Whether another process holds the file open as above: a recording
    // that still runs. On Windows always false: there the recorder's own
    // handle keeps the file from being renamed while it records.
    bool OpenElsewhere();

    // Reads exactly `size` bytes at `offset`; false when fewer are there.
    bool ReadAt(std::uint64_t offset, void* into, std::size_t size);

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // a descriptor or a HANDLE
};

}  // namespace tolvane::cli
