#include "read_back_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace tolvane::cli {

ReadBackFile::~ReadBackFile() {
    if (IsOpen()) ::close(static_cast<int>(handle_));
}

bool ReadBackFile::Open(const char* utf8Path, const Utf16Path&) {
    const int fd = ::open(utf8Path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    handle_ = fd;
    // Advisory only: a file system without locks leaves it unmarked.
    ::flock(fd, LOCK_SH | LOCK_NB);
    return true;
}

bool ReadBackFile::OpenElsewhere() {
    // Turning this process's shared lock into an exclusive one fails while
    // any other process holds its own.
    const int fd = static_cast<int>(handle_);
    const bool elsewhere = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::flock(fd, LOCK_SH | LOCK_NB);
    return elsewhere;
}

bool ReadBackFile::ReadAt(std::uint64_t offset, void* into, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(into);
    while (size > 0) {
        const ssize_t got = ::pread(static_cast<int>(handle_), bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace tolvane::cli
