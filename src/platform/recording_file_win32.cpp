#include "platform/recording_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/native_path.h"

namespace tolvane::platform {

FILE* OpenRecordingFile(const TolvanePathChar* path, const RecordingFileId& keep, RecordingFileId& id) {
    NativePath name;
    if (!ToNativePath(path, name)) {
        return nullptr;
    }
    // As _wfopen's "w" opens, but truncated only once it is known not to be
    // `keep`. _O_NOINHERIT: the file stays open for the whole recording and
    // must not be inherited by programs the host starts meanwhile.
    const int fd = ::_wopen(name.name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info{};
    id.known = handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info) != 0;
    id.volume = info.dwVolumeSerialNumber;
    id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const bool kept = id.known && keep.known && id.volume == keep.volume && id.file == keep.file;
    // Only a file on disk has a length to cut, and a new one has none. A
    // file not known is cut, as "w" would.
    const bool empty = handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK ||
                       (id.known && info.nFileSizeHigh == 0 && info.nFileSizeLow == 0);
    FILE* file = !kept && (empty || ::_chsize_s(fd, 0) == 0) ? ::_fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        ::_close(fd);
    }
    return file;
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
