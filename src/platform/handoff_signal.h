// A lock and a wake-up for handing work from one thread to another, usable
// from a winmm capture callback: there only critical sections and SetEvent
// are safe, so on Windows it is made of exactly those. Its initial value is
// a constant (nothing runs at load); Open and Close bracket its use.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace tolvane::platform {

class HandoffSignal {
public:
    // Makes it ready for use. Returns false when the system has no room for it.
    bool Open() noexcept {
#if defined(_WIN32)
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset: one wake-up per Notify
        if (event_ == nullptr) return false;
        InitializeCriticalSection(&section_);
#endif
        return true;
    }
    // No thread may be using it any more.
    void Close() noexcept {
#if defined(_WIN32)
        if (event_ != nullptr) {
            DeleteCriticalSection(&section_);
            CloseHandle(event_);
            event_ = nullptr;
        }
#endif
    }

    void Lock() noexcept {
#if defined(_WIN32)
        EnterCriticalSection(&section_);
#else
        pthread_mutex_lock(&mutex_);
#endif
    }
    void Unlock() noexcept {
#if defined(_WIN32)
        LeaveCriticalSection(&section_);
#else
        pthread_mutex_unlock(&mutex_);
#endif
    }
    // Wakes the thread in Wait, or makes its next Wait return at once. Called
    // with the lock held.
    void Notify() noexcept {
#if defined(_WIN32)
        SetEvent(event_);
#else
        pthread_cond_signal(&cond_);
#endif
    }
    // With the lock held: gives it up until Notify, then holds it again. May
    // return without a Notify, so the caller looks again at what it waits for.
    void Wait() noexcept {
#if defined(_WIN32)
        LeaveCriticalSection(&section_);
        WaitForSingleObject(event_, INFINITE);
        EnterCriticalSection(&section_);
#else
        pthread_cond_wait(&cond_, &mutex_);
#endif
    }

private:
#if defined(_WIN32)
    CRITICAL_SECTION section_{};
    HANDLE event_ = nullptr;
#else
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond_ = PTHREAD_COND_INITIALIZER;
#endif
};

}  // namespace tolvane::platform
