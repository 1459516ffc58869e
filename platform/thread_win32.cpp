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
