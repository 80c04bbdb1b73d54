#include "platform/native_file.h"

#include <windows.h>

#include <stdint.h>

namespace tolvane::platform {
namespace {

// The handle members hold a HANDLE; -1 is INVALID_HANDLE_VALUE.
HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

void CloseQuietly(intptr_t& handle) {
    if (handle != -1) {
        ::CloseHandle(AsHandle(handle));
        handle = -1;
    }
}

// Volume serial and file index name one file whatever path reached it, as
// device and inode do elsewhere. Pipes and consoles have none.
bool IdentityOf(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    identity.volume = info.dwVolumeSerialNumber;
    identity.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// An input without identity gets a volume that no real one has (serials are
// 32-bit), so no output can be taken for it.
constexpr uint64_t kNoVolume = UINT64_MAX;

// One ReadFile/WriteFile moves at most a DWORD's worth; keep well below.
constexpr size_t kMaxChunk = size_t{1} << 30;

DWORD ChunkOf(size_t size) { return static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk); }

bool WriteAll(HANDLE handle, const void* data, size_t size) {
    const auto* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD put = 0;
        if (!::WriteFile(handle, in, ChunkOf(size), &put, nullptr) || put == 0) {
            return false;
        }
        in += put;
        size -= put;
    }
    return true;
}

}  // namespace

InputFile::~InputFile() { CloseQuietly(handle_); }

bool InputFile::Open(const NativePath& path) {
    // Others may go on reading and writing the file meanwhile, as they could
    // elsewhere; that also lets the output side open it to find out that it
    // is the same file.
    const HANDLE handle = ::CreateFileW(path.name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = FromHandle(handle);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool isDisk = ::GetFileType(handle) == FILE_TYPE_DISK;
    if (isDisk && ::GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseQuietly(handle_);
        return false;
    }
    if (!IdentityOf(handle, identity_)) {
        identity_ = FileIdentity{kNoVolume, static_cast<uint64_t>(handle_)};
    }
    LARGE_INTEGER size{};
    if (isDisk && ::GetFileSizeEx(handle, &size)) {
        sizeKnown_ = true;
        size_ = static_cast<uint64_t>(size.QuadPart);
    }
    return true;
}

ptrdiff_t InputFile::ReadFully(void* buffer, size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!::ReadFile(AsHandle(handle_), out + done, ChunkOf(size - done), &got, nullptr)) {
            // A pipe whose writer has gone is at its end, not in error.
            if (::GetLastError() == ERROR_BROKEN_PIPE) {
                break;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<ptrdiff_t>(done);
}

OutputFile::~OutputFile() { CloseQuietly(handle_); }

OutputFile::OpenResult OutputFile::Open(NativePath& path, const InputFile& input) {
    // OPEN_ALWAYS, not CREATE_ALWAYS: nothing may be truncated before the
    // identity check below. Sharing reads keeps the input's own handle valid
    // when both names lead to one file.
    const HANDLE handle = ::CreateFileW(path.name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return OpenResult::kFailed;
    }
    handle_ = FromHandle(handle);
    FileIdentity identity;
    if (IdentityOf(handle, identity) && identity.volume == input.Identity().volume &&
        identity.file == input.Identity().file) {
        CloseQuietly(handle_);
        return OpenResult::kSameAsInput;
    }
    // An existing file is overwritten in place and cut to length at Close.
    regular_ = ::GetFileType(handle) == FILE_TYPE_DISK;
    name_ = path.name;
    return OpenResult::kOpened;
}

bool OutputFile::Write(const void* data, size_t size) { return WriteAll(AsHandle(handle_), data, size); }

bool OutputFile::WriteAtStart(const void* data, size_t size) {
    // Only a disk file can be rewritten in place; the file position is put
    // back afterwards so that this behaves as a positioned write.
    const HANDLE handle = AsHandle(handle_);
    if (!regular_) {
        return false;
    }
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) ||
        !::SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN)) {
        return false;
    }
    const bool written = WriteAll(handle, data, size);
    return ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && written;
}

bool OutputFile::Close() {
    const HANDLE handle = AsHandle(handle_);
    handle_ = -1;
    // Writes leave the file position at the end of what was written: drop
    // whatever an earlier file left past it.
    const bool cut = !regular_ || ::SetEndOfFile(handle) != 0;
    return (::CloseHandle(handle) != 0) && cut;
}

void OutputFile::Discard() {
    CloseQuietly(handle_);
    if (regular_ && name_ != nullptr) {
        ::DeleteFileW(name_);
    }
}

}  // namespace tolvane::platform
