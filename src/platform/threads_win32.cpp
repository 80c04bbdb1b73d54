#include "platform/threads.h"

namespace tolvane::platform {
namespace {

DWORD WINAPI RunThread(LPVOID started) {
    const Thread& thread = *static_cast<Thread*>(started);
    thread.body(thread.argument);
    return 0;
}

}  // namespace

void Lock(Mutex& mutex) { AcquireSRWLockExclusive(&mutex.lock); }
void Unlock(Mutex& mutex) { ReleaseSRWLockExclusive(&mutex.lock); }

bool OpenHandoff(HandoffSignal& signal) {
    signal.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset: one wake-up per notification
    if (signal.event == nullptr) return false;
    InitializeCriticalSection(&signal.section);
    return true;
}

void CloseHandoff(HandoffSignal& signal) {
    if (signal.event != nullptr) {
        DeleteCriticalSection(&signal.section);
        CloseHandle(signal.event);
        signal.event = nullptr;
    }
}

void LockHandoff(HandoffSignal& signal) { EnterCriticalSection(&signal.section); }
void UnlockHandoff(HandoffSignal& signal) { LeaveCriticalSection(&signal.section); }
void NotifyHandoff(HandoffSignal& signal) { SetEvent(signal.event); }

void WaitHandoff(HandoffSignal& signal) {
    LeaveCriticalSection(&signal.section);
    WaitForSingleObject(signal.event, INFINITE);
    EnterCriticalSection(&signal.section);
}

bool StartThread(Thread& thread, void (*body)(void*), void* argument) {
    thread.body = body;
    thread.argument = argument;
    thread.handle = CreateThread(nullptr, 0, RunThread, &thread, 0, nullptr);
    thread.started = thread.handle != nullptr;
    return thread.started;
}

void JoinThread(Thread& thread) {
    if (thread.started) {
        WaitForSingleObject(thread.handle, INFINITE);
        CloseHandle(thread.handle);
        thread.handle = nullptr;
        thread.started = false;
    }
}

}  // namespace tolvane::platform
