// Threads on Windows (KERNEL32).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/thread.h"

struct SysThread {
    HANDLE handle;
    void (*run)(void*);
    void* argument;
};

namespace {

DWORD WINAPI thread_main(LPVOID self)
{
    SysThread* t = static_cast<SysThread*>(self);
    t->run(t->argument);
    return 0;
}

} // namespace

SysThread* sys_thread_start(void (*run)(void*), void* argument)
{
    SysThread* t = new SysThread{nullptr, run, argument};
    t->handle = CreateThread(nullptr, 0, thread_main, t, 0, nullptr);
    if (!t->handle) {
        delete t;
        return nullptr;
    }
    return t;
}

void sys_thread_join(SysThread* thread)
{
    if (!thread)
        return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

int sys_processor_count()
{
    DWORD_PTR process = 0, system = 0;
    int n = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1)
            ++n;
    if (n > 0)
        return n;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? int(info.dwNumberOfProcessors) : 1;
}

struct SysLock {
    CRITICAL_SECTION section;
};

SysLock* sys_lock_new()
{
    SysLock* lock = new SysLock;
    InitializeCriticalSection(&lock->section);
    return lock;
}

void sys_lock(SysLock* lock)
{
    if (lock)
        EnterCriticalSection(&lock->section);
}

void sys_unlock(SysLock* lock)
{
    if (lock)
        LeaveCriticalSection(&lock->section);
}

void sys_lock_free(SysLock* lock)
{
    if (!lock)
        return;
    DeleteCriticalSection(&lock->section);
    delete lock;
}
