#include "read_back_file.h"

#include <windows.h>

namespace tolvane::cli {
namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

ReadBackFile::~ReadBackFile() {
    if (IsOpen()) CloseHandle(AsHandle(handle_));
}

bool ReadBackFile::Open(const char*, const Utf16Path& utf16Path) {
    // The recorder holds the file open for writing: reading it needs write
    // sharing too.
    const HANDLE handle = CreateFileW(utf16Path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool ReadBackFile::OpenElsewhere() { return false; }

bool ReadBackFile::ReadAt(std::uint64_t offset, void* into, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(into);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), bytes, want, &got, &at) || got == 0) return false;
        bytes += got;
        size -= got;
        offset += got;
    }
    return true;
}

}  // namespace tolvane::cli
