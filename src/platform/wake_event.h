// An eventfd that one thread signals to wake another out of poll().
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

class WakeEvent {
public:
    WakeEvent() noexcept : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~WakeEvent() {
        if (fd_ >= 0) close(fd_);
    }
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    bool IsOpen() const noexcept { return fd_ >= 0; }
    int Descriptor() const noexcept { return fd_; }

    // Counter writes only fail when it would overflow, and then it is
    // readable anyway: the wake-up is not lost.
    void Signal() const noexcept {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
    }
    void Clear() const noexcept {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(fd_, &count, sizeof count);
    }

private:
    int fd_;
};
