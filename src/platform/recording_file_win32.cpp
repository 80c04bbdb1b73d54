#include "platform/recording_file.h"

#include <windows.h>
#include <io.h>

#include "platform/native_path.h"

namespace tolvane::platform {

FILE* OpenRecordingFile(const TolvanePathChar* path) {
    NativePath name;
    if (!ToNativePath(path, name)) {
        return nullptr;
    }
    // "N": the file stays open for the whole recording and must not be
    // inherited by programs the host starts meanwhile.
    return ::_wfopen(name.name, L"wbN");
}

bool SeekRecordingFile(FILE* file, uint64_t offset) {
    // fseek's long offset is 32-bit here.
    return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool CutRecordingFile(FILE* file, uint64_t size) {
    return ::_chsize_s(::_fileno(file), static_cast<__int64>(size)) == 0;
}

bool SyncNewRecordingFile(FILE* file, const TolvanePathChar*) {
    // Flushing a file also makes its directory entry durable here: NTFS
    // commits the journal that holds the entry's creation, FAT writes the
    // entry along with the file. There is no directory of its own to sync.
    return SyncRecordingFile(file);
}

bool SyncRecordingFile(FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    return fflush(file) == 0 && handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != 0;
}

}  // namespace tolvane::platform
