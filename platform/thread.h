#pragma once
// A second thread of work, on both systems (the Windows toolchain's C++
// library has no std::thread).

struct SysThread;

// Runs run(argument) on a thread of its own; null when none can be started
// (the caller then does the work itself).
SysThread* sys_thread_start(void (*run)(void* argument), void* argument);

// Waits for the thread to end and lets it go; null is allowed.
void sys_thread_join(SysThread* thread);
