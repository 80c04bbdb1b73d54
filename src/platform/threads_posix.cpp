#include "platform/threads.h"

namespace tolvane::platform {
namespace {

void* RunThread(void* started) {
    const Thread& thread = *static_cast<Thread*>(started);
    thread.body(thread.argument);
    return nullptr;
}

}  // namespace

void Lock(Mutex& mutex) { pthread_mutex_lock(&mutex.lock); }
void Unlock(Mutex& mutex) { pthread_mutex_unlock(&mutex.lock); }

void Wait(Condition& condition, Mutex& mutex) { pthread_cond_wait(&condition.cond, &mutex.lock); }
void WakeAll(Condition& condition) { pthread_cond_broadcast(&condition.cond); }

bool OpenHandoff(HandoffSignal&) { return true; }
void CloseHandoff(HandoffSignal&) {}
void LockHandoff(HandoffSignal& signal) { pthread_mutex_lock(&signal.mutex); }
void UnlockHandoff(HandoffSignal& signal) { pthread_mutex_unlock(&signal.mutex); }
void NotifyHandoff(HandoffSignal& signal) { pthread_cond_signal(&signal.cond); }
void WaitHandoff(HandoffSignal& signal) { pthread_cond_wait(&signal.cond, &signal.mutex); }

bool StartThread(Thread& thread, void (*body)(void*), void* argument) {
    thread.body = body;
    thread.argument = argument;
    thread.started = pthread_create(&thread.handle, nullptr, RunThread, &thread) == 0;
    return thread.started;
}

void JoinThread(Thread& thread) {
    if (thread.started) {
        pthread_join(thread.handle, nullptr);
        thread.started = false;
    }
}

bool IsCurrentThread(const Thread& thread) {
    return thread.started && pthread_equal(thread.handle, pthread_self()) != 0;
}

}  // namespace tolvane::platform
