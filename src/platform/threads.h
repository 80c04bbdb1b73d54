// Threads, locks and wake-ups, over the system's own calls: pthreads on
// POSIX (threads_posix.cpp), Win32 on Windows (threads_win32.cpp). Every
// lock and signal has a constant initial value, so static state that holds
// one needs no code at load.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace tolvane::platform {

// A lock for work that may wait: an SRW lock on Windows, a pthread mutex
// elsewhere.
struct Mutex {
#if defined(_WIN32)
    SRWLOCK lock = SRWLOCK_INIT;
#else
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
#endif
};

void Lock(Mutex& mutex);
void Unlock(Mutex& mutex);

// Holds `mutex` for the guard's scope.
class MutexGuard {
public:
    explicit MutexGuard(Mutex& mutex) : mutex_(mutex) { Lock(mutex_); }
    ~MutexGuard() { Unlock(mutex_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    Mutex& mutex_;
};

// A lock and a wake-up for handing work from one thread to another, usable
// from a winmm capture callback: there only critical sections and SetEvent
// are safe, so on Windows it is made of exactly those. Open and Close
// bracket its use.
struct HandoffSignal {
#if defined(_WIN32)
    CRITICAL_SECTION section{};
    HANDLE event = nullptr;
#else
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
#endif
};

// Makes it ready for use. Returns false when the system has no room for it.
bool OpenHandoff(HandoffSignal& signal);
// No thread may be using it any more.
void CloseHandoff(HandoffSignal& signal);
void LockHandoff(HandoffSignal& signal);
void UnlockHandoff(HandoffSignal& signal);
// Wakes the thread in WaitHandoff, or makes its next wait return at once.
// Called with the lock held.
void NotifyHandoff(HandoffSignal& signal);
// With the lock held: gives it up until a notification, then holds it
// again. May return without one, so the caller looks again at what it waits
// for.
void WaitHandoff(HandoffSignal& signal);

// A thread of the library's own, running `body(argument)`.
struct Thread {
    void (*body)(void*) = nullptr;
    void* argument = nullptr;
    bool started = false;
#if defined(_WIN32)
    HANDLE handle = nullptr;
#else
    pthread_t handle{};
#endif
};

// Starts `body(argument)` on a new thread. `thread` must stay where it is
// until JoinThread. Returns false when no thread could be made.
bool StartThread(Thread& thread, void (*body)(void*), void* argument);
// Waits for a started thread to end; does nothing for one not started.
void JoinThread(Thread& thread);

#if !defined(_WIN32)
// For the audio input layer that stands in for the system's elsewhere
// (Windows has its own).

// Waited on with a Mutex held: a condition variable of the system's own.
struct Condition {
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
};

// With `mutex` held: gives it up until `condition` is woken, then holds it
// again. May return without a wake-up, so the caller looks again at what it
// waits for.
void Wait(Condition& condition, Mutex& mutex);
void WakeAll(Condition& condition);

// Whether the caller runs on `thread`.
bool IsCurrentThread(const Thread& thread);
#endif

}  // namespace tolvane::platform
