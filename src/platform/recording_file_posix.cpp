#include "platform/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <errno.h>
#include <string.h>

#include "platform/native_path.h"

namespace tolvane::platform {
namespace {

// Syncs the directory that holds `name`, so that a file just created in it
// keeps its entry through a power cut.
bool SyncParentDirectory(const char* name) {
    NativePath parent;
    const char* slash = strrchr(name, '/');
    if (slash == nullptr) {
        strcpy(parent.name, ".");
    } else {
        // "/x" lies in "/"; "a/b/x" in "a/b". The name fitted, so its parent does.
        const size_t length = slash == name ? 1 : static_cast<size_t>(slash - name);
        memcpy(parent.name, name, length);
        parent.name[length] = '\0';
    }
    const int fd = ::open(parent.name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // A file system that cannot sync directories says so (EINVAL, or
    // ENOTSUP, which is EOPNOTSUPP on Linux); it has nothing to sync then.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    ::close(fd);
    return synced;
}

}  // namespace

// Inputs, outputs and recordings may pass 2 GiB: the build defines
// _FILE_OFFSET_BITS=64 so that 32-bit systems use 64-bit offsets as well.
static_assert(sizeof(off_t) == 8, "64-bit file offsets needed");

FILE* OpenRecordingFile(const TolvanePathChar* path, const RecordingFileId& keep, RecordingFileId& id) {
    NativePath name;
    if (!ToNativePath(path, name)) {
        return nullptr;
    }
    // As fopen's "w" opens, but truncated only once it is known not to be
    // `keep`. O_CLOEXEC: the file stays open for the whole recording and
    // must not leak into programs the host starts meanwhile.
    const int fd = ::open(name.name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    id.known = ::fstat(fd, &info) == 0;
    id.volume = static_cast<uint64_t>(info.st_dev);
    id.file = static_cast<uint64_t>(info.st_ino);
    const bool kept = id.known && keep.known && id.volume == keep.volume && id.file == keep.file;
    // Only a regular file has a length to cut (O_TRUNC ignores the others),
    // and a new one has none. A file not known is cut, as "w" would.
    const bool empty = id.known && (!S_ISREG(info.st_mode) || info.st_size == 0);
    FILE* file = !kept && (empty || ::ftruncate(fd, 0) == 0) ? ::fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

bool SeekRecordingFile(FILE* file, uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool CutRecordingFile(FILE* file, uint64_t size) {
    return ::ftruncate(::fileno(file), static_cast<off_t>(size)) == 0;
}

bool SyncNewRecordingFile(FILE* file, const TolvanePathChar* path) {
    NativePath name;
    // The whole inode, not just the data: the file is new.
    return fflush(file) == 0 && ::fsync(::fileno(file)) == 0 && ToNativePath(path, name) &&
           SyncParentDirectory(name.name);
}

bool SyncRecordingFile(FILE* file) {
    return fflush(file) == 0 && ::fdatasync(::fileno(file)) == 0;
}

}  // namespace tolvane::platform
