#include "platform/native_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <errno.h>
#include <stdio.h>

namespace tolvane::platform {

// Inputs, outputs and recordings may pass 2 GiB: the build defines
// _FILE_OFFSET_BITS=64 so that 32-bit systems use 64-bit offsets as well.
static_assert(sizeof(off_t) == 8, "64-bit file offsets needed");
namespace {

FileIdentity IdentityOf(const struct stat& info) {
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

void CloseQuietly(intptr_t& handle) {
    if (handle >= 0) {
        ::close(static_cast<int>(handle));
        handle = -1;
    }
}

// Writes all `size` bytes, through short writes and interruptions: at the
// file position, or at `*offset` (advanced) without moving it.
bool WriteAll(int fd, const void* data, size_t size, off_t* offset) {
    const auto* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = offset != nullptr ? ::pwrite(fd, in, size, *offset) : ::write(fd, in, size);
        if (put > 0) {
            in += put;
            size -= static_cast<size_t>(put);
            if (offset != nullptr) *offset += put;
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

InputFile::~InputFile() { CloseQuietly(handle_); }

bool InputFile::Open(const NativePath& path) {
    const int fd = ::open(path.name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        CloseQuietly(handle_);
        return false;
    }
    identity_ = IdentityOf(info);
    if (S_ISREG(info.st_mode)) {
        sizeKnown_ = true;
        size_ = static_cast<uint64_t>(info.st_size);
        // One pass front to back: let the kernel read further ahead.
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return true;
}

ptrdiff_t InputFile::ReadFully(void* buffer, size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(static_cast<int>(handle_), out + done, size - done);
        if (got > 0) {
            done += static_cast<size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return static_cast<ptrdiff_t>(done);
}

OutputFile::~OutputFile() { CloseQuietly(handle_); }

OutputFile::OpenResult OutputFile::Open(NativePath& path, const InputFile& input) {
    // No O_TRUNC: the identity check below must come before anything is lost.
    // O_EXCL tells whether this call creates the file, and never follows a
    // link; a link that leads nowhere is followed next, creating its target.
    int fd = ::open(path.name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const bool createdHere = fd >= 0;
    bool createdThroughLink = false;
    if (fd < 0 && errno == EEXIST) {
        fd = ::open(path.name, O_WRONLY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
            createdThroughLink = fd >= 0;
        }
    }
    if (fd < 0) {
        return OpenResult::kFailed;
    }
    handle_ = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        CloseQuietly(handle_);
        if (createdHere) {
            ::unlink(path.name);
        }
        return OpenResult::kFailed;
    }
    identity_ = IdentityOf(info);
    if (identity_.volume == input.Identity().volume && identity_.file == input.Identity().file) {
        CloseQuietly(handle_);
        return OpenResult::kSameAsInput;
    }
    // An existing file is overwritten in place and cut to length at Close:
    // cheaper than truncating first, which frees every block only for the
    // conversion to allocate them again.
    regular_ = S_ISREG(info.st_mode);
    if (createdThroughLink) {
        // Discard removes only by a name that is the file itself, never a
        // link: the file just created is known by the name the system gives.
        char self[32];
        snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        const ssize_t length = ::readlink(self, path.name, kMaxNativePath - 1);
        path.name[length > 0 ? length : 0] = '\0';
    }
    name_ = path.name;
    return OpenResult::kOpened;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (!WriteAll(static_cast<int>(handle_), data, size, nullptr)) {
        return false;
    }
    end_ += size;
    return true;
}

bool OutputFile::WriteAtStart(const void* data, size_t size) {
    off_t offset = 0;
    return WriteAll(static_cast<int>(handle_), data, size, &offset);
}

bool OutputFile::Close() {
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // Drop whatever an earlier file left past our end.
    const bool cut = !regular_ || ::ftruncate(fd, static_cast<off_t>(end_)) == 0;
    // close() reports delayed write errors (e.g. on network file systems).
    return (::close(fd) == 0) && cut;
}

void OutputFile::Discard() {
    CloseQuietly(handle_);
    // Only by a name that is still this very file: a link that led to it
    // (say /dev/stdout) stays, and so does a file put there meanwhile.
    struct stat info {};
    if (regular_ && name_ != nullptr && ::lstat(name_, &info) == 0 && IdentityOf(info).volume == identity_.volume &&
        IdentityOf(info).file == identity_.file) {
        ::unlink(name_);
    }
}

}  // namespace tolvane::platform
