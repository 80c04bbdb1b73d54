// Slow storage on demand: preloaded into a program (LD_PRELOAD), it makes
// fsync and fdatasync wait before doing their work, as flash storage does
// while it reorganises itself. Driven by the environment:
//
//   TOLVANE_TEST_SYNC_DELAY_MS=M       every sync waits M ms first
//   TOLVANE_TEST_SYNC_DELAY_NTH=N:M    the Nth sync of the process (counting
//                                      both calls from 1) waits M ms
//   TOLVANE_TEST_SYNC_LOG=FILE         each sync appends "N DELAY_MS" to FILE,
//                                      so a test can tell the shim was in
//   TOLVANE_TEST_FAIL_FTRUNCATE=1      ftruncate fails with EIO, as on a
//                                      card that went read-only
//
// Unset, it only passes the calls on.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

using SyncCall = int (*)(int);

struct Settings {
    long everyMs = 0;
    unsigned long nth = 0;
    long nthMs = 0;
    const char* log = nullptr;
};

const Settings& ReadSettings() {
    static const Settings settings = [] {
        Settings s;
        if (const char* every = std::getenv("TOLVANE_TEST_SYNC_DELAY_MS")) s.everyMs = std::strtol(every, nullptr, 10);
        if (const char* nth = std::getenv("TOLVANE_TEST_SYNC_DELAY_NTH")) {
            char* rest = nullptr;
            s.nth = std::strtoul(nth, &rest, 10);
            if (*rest == ':') s.nthMs = std::strtol(rest + 1, nullptr, 10);
        }
        s.log = std::getenv("TOLVANE_TEST_SYNC_LOG");
        return s;
    }();
    return settings;
}

std::atomic<unsigned long> g_syncs{0};

void SleepMs(long ms) {
    timespec left{static_cast<time_t>(ms / 1000), (ms % 1000) * 1'000'000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
}

void Log(const char* path, unsigned long number, long delayMs) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%lu %ld\n", number, delayMs);
    if (length > 0 && ::write(fd, line, static_cast<std::size_t>(length)) < 0) {
        // A test that reads the log sees the line missing.
    }
    ::close(fd);
}

int DelayedSync(const char* name, int fd) {
    static std::atomic<SyncCall> next[2];
    const int which = name[1] == 's' ? 0 : 1;  // "fsync" or "fdatasync"
    SyncCall real = next[which].load();
    if (real == nullptr) {
        real = reinterpret_cast<SyncCall>(dlsym(RTLD_NEXT, name));
        if (real == nullptr) {
            errno = ENOSYS;
            return -1;
        }
        next[which].store(real);
    }
    const Settings& s = ReadSettings();
    const unsigned long number = ++g_syncs;
    const long delay = number == s.nth ? s.nthMs : s.everyMs;
    if (s.log != nullptr) Log(s.log, number, delay);
    if (delay > 0) SleepMs(delay);
    return real(fd);
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) int ftruncate(int fd, off_t length) {
    if (std::getenv("TOLVANE_TEST_FAIL_FTRUNCATE") != nullptr) {
        errno = EIO;
        return -1;
    }
    using TruncateCall = int (*)(int, off_t);
    static const auto real = reinterpret_cast<TruncateCall>(dlsym(RTLD_NEXT, "ftruncate"));
    return real != nullptr ? real(fd, length) : (errno = ENOSYS, -1);
}
__attribute__((visibility("default"))) int fsync(int fd) { return DelayedSync("fsync", fd); }
__attribute__((visibility("default"))) int fdatasync(int fd) { return DelayedSync("fdatasync", fd); }
}
