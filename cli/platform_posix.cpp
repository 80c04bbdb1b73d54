// The tolvane program's platform layer on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform.h"
#include "stop_request.h"

namespace tolvane::cli {
namespace {

sigset_t stopSignals;

}  // namespace

// SIGINT and SIGTERM are blocked in every thread (threads started later
// inherit the mask) and taken with sigtimedwait, so no handler ever runs.
void CatchStopRequests() {
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

bool WaitForStopRequest(std::chrono::milliseconds timeout) {
    const long ms = static_cast<long>(timeout.count());
    const timespec wait{static_cast<time_t>(ms / 1000), (ms % 1000) * 1000000L};
    return ::sigtimedwait(&stopSignals, nullptr, &wait) > 0;
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

FileFacts FactsOf(const std::string& utf8, const Utf16Path&) {
    FileFacts facts;
    struct stat info {};
    if (::stat(utf8.c_str(), &info) != 0) {
        return facts;
    }
    facts.exists = true;
    facts.directory = S_ISDIR(info.st_mode);
    facts.volume = static_cast<std::uint64_t>(info.st_dev);
    facts.index = static_cast<std::uint64_t>(info.st_ino);
    facts.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    return facts;
}

Utf16Path FileNameKey(const Utf16Path& path) { return path; }

char SeparatorFor(const std::string&) { return '/'; }

bool MakePipe(int fds[2]) { return ::pipe(fds) == 0; }

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// rename() would replace `to`; a file system that cannot refuse that in the
// rename itself (RENAME_NOREPLACE is Linux's, and not every file system's)
// gets a link, which cannot replace, and the old name's removal.
int RenameNoReplace(const char* from, const char* to) {
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
    if (::link(from, to) != 0) return -1;
    return ::unlink(from);
}

}  // namespace

RenameResult RenameDurably(const std::string& from, const Utf16Path&, const std::string& to, const Utf16Path&) {
    if (RenameNoReplace(from.c_str(), to.c_str()) != 0) {
        return errno == EEXIST ? RenameResult::kTaken : RenameResult::kFailed;
    }
    // The rename is in the folder's entries, which only a sync of the folder
    // puts on storage.
    const int folder = ::open(FolderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return RenameResult::kFailed;
    const bool synced = ::fsync(folder) == 0;
    ::close(folder);
    return synced ? RenameResult::kRenamed : RenameResult::kFailed;
}

std::FILE* OpenToAppend(const std::string& utf8, const Utf16Path&) { return std::fopen(utf8.c_str(), "ab"); }

void RemoveIfEmpty(const std::string& utf8, const Utf16Path&) {
    struct stat info {};
    if (::lstat(utf8.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) ::unlink(utf8.c_str());
}

bool NameTaken(const std::string& utf8, const Utf16Path&) {
    struct stat info {};
    return ::lstat(utf8.c_str(), &info) == 0 || errno != ENOENT;
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

bool FreeBytes(const std::string& folder, std::uint64_t& bytes) {
    struct statvfs info {};
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return false;
    // Root may write into the blocks kept back for it.
    const std::uint64_t blocks = ::geteuid() == 0 ? info.f_bfree : info.f_bavail;
    bytes = blocks * static_cast<std::uint64_t>(info.f_frsize);
    return true;
}

}  // namespace tolvane::cli
