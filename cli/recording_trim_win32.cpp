#include <windows.h>

#include "recording_trim.h"
#include "wav_sizes.h"

namespace tolvane::cli {
namespace {

bool WriteAt(HANDLE file, std::uint64_t offset, const unsigned char* bytes, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, &at) && written == size;
}

}  // namespace

bool TrimRecording(const char*, const Utf16Path& utf16Path, std::uint32_t seconds, bool& headerCounts) {
    headerCounts = false;
    const HANDLE file = CreateFileW(utf16Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const WavSizes sizes = SizesFor(seconds);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(sizes.fileBytes);
    // The data size goes first: a header left half-written by a failure then
    // counts fewer bytes than the file holds, never more.
    headerCounts = WriteAt(file, kDataSizeOffset, sizes.data, sizeof sizes.data);
    const bool done = headerCounts && WriteAt(file, kRiffSizeOffset, sizes.riff, sizeof sizes.riff) &&
                      FlushFileBuffers(file) &&
                      SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                      FlushFileBuffers(file);
    return CloseHandle(file) && done;
}

}  // namespace tolvane::cli
