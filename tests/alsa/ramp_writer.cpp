// Feeds a FIFO with a 16-bit mono ramp (sample n holds n mod 65536) at 8000
// samples/s, 10 ms per write on absolute deadlines, for as long as it runs.
//
// A pipe source reads the FIFO only while somebody records, so the writer
// holds its own read end and drops the oldest bytes beyond about 100 ms once
// nobody has read for a second: a recording then starts on fresh samples
// instead of seconds of stale ones, and the ramp it sees has no gap. While
// somebody reads, nothing is dropped, however late the reader is (a sound
// server kept off the CPU by other work falls behind for a while): dropping
// then cut samples out of the middle of a recording.
//
// Usage: ramp_writer FIFO
#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kSamplesPerChunk = 80;  // 10 ms at 8000 samples/s
constexpr long kChunkNanoseconds = 10'000'000;
constexpr int kMaxQueuedBytes = 1600;  // 100 ms
constexpr int kUnreadChunks = 100;     // a second of writes with no reading

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void AddNanoseconds(timespec& t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1'000'000'000L) {
        t.tv_nsec -= 1'000'000'000L;
        ++t.tv_sec;
    }
}

// Once nobody has read for a second, reads away whatever exceeds the queue
// limit, oldest first, in whole samples. `queuedBefore` is what was waiting
// after the last write, `unread` the writes since somebody last read.
void DropStale(int readEnd, int& queuedBefore, int& unread) {
    int queued = 0;
    if (ioctl(readEnd, FIONREAD, &queued) != 0) return;
    unread = queued < queuedBefore ? 0 : unread + 1;
    queuedBefore = queued + kSamplesPerChunk * 2;
    if (unread < kUnreadChunks || queued <= kMaxQueuedBytes) return;
    queuedBefore = kMaxQueuedBytes + kSamplesPerChunk * 2;
    char scratch[4096];
    int excess = (queued - kMaxQueuedBytes + 1) & ~1;
    while (excess > 0) {
        const auto want = static_cast<std::size_t>(excess < 4096 ? excess : 4096);
        const ssize_t got = read(readEnd, scratch, want);
        if (got <= 0) return;
        excess -= static_cast<int>(got);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FIFO\n", argv[0]);
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    // Our own reader first, so that opening for writing never blocks.
    const int readEnd = open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int writeEnd = readEnd < 0 ? -1 : open(argv[1], O_WRONLY | O_CLOEXEC);
    if (readEnd < 0 || writeEnd < 0) {
        std::perror(argv[1]);
        return 1;
    }

    std::uint16_t next = 0;
    int queuedBefore = 0;
    int unread = 0;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    while (!g_stop) {
        unsigned char chunk[kSamplesPerChunk * 2];
        for (int i = 0; i < kSamplesPerChunk; ++i) {
            chunk[2 * i] = static_cast<unsigned char>(next & 0xFF);
            chunk[2 * i + 1] = static_cast<unsigned char>(next >> 8);
            ++next;
        }
        DropStale(readEnd, queuedBefore, unread);
        // Pipe writes this small are atomic: all or (on a signal) nothing.
        ssize_t written = -1;
        do {
            written = write(writeEnd, chunk, sizeof chunk);
        } while (written < 0 && errno == EINTR && !g_stop);
        if (written < 0 && g_stop) break;
        if (written != static_cast<ssize_t>(sizeof chunk)) {
            std::perror("write");
            return 1;
        }
        AddNanoseconds(deadline, kChunkNanoseconds);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR && !g_stop) {
        }
    }
    return 0;
}
