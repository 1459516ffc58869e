#pragma once
// A second thread of work, on both systems (the Windows toolchain's C++
// library has no std::thread).

struct SysThread;

// State of one thread's own (a decoder's working record), for code that runs
// on several threads at once. The compilers' __thread rather than an extern
// thread_local: it allows no dynamic initialisation, so a use from another
// source needs no initialisation check, which would cost in decoding loops.
#define SYS_THREAD_LOCAL __thread

// Runs run(argument) on a thread of its own; null when none can be started
// (the caller then does the work itself).
SysThread* sys_thread_start(void (*run)(void* argument), void* argument);

// Waits for the thread to end and lets it go; null is allowed.
void sys_thread_join(SysThread* thread);

// The processors this process may run on, at least 1.
int sys_processor_count();

// A lock held by one thread at a time (nor has the Windows toolchain's
// library std::mutex). Made by sys_lock_new, null when it cannot be (then
// sys_lock and sys_unlock do nothing: the caller runs on one thread).
struct SysLock;
SysLock* sys_lock_new();
void sys_lock(SysLock* lock);
void sys_unlock(SysLock* lock);
void sys_lock_free(SysLock* lock);
