// Threads on POSIX systems.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "platform/thread.h"

struct SysThread {
    pthread_t id;
    void (*run)(void*);
    void* argument;
};

namespace {

void* thread_main(void* self)
{
    SysThread* t = static_cast<SysThread*>(self);
    t->run(t->argument);
    return nullptr;
}

} // namespace

SysThread* sys_thread_start(void (*run)(void*), void* argument)
{
    SysThread* t = new SysThread{{}, run, argument};
    if (pthread_create(&t->id, nullptr, thread_main, t) != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

void sys_thread_join(SysThread* thread)
{
    if (!thread)
        return;
    pthread_join(thread->id, nullptr);
    delete thread;
}

int sys_processor_count()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

struct SysLock {
    pthread_mutex_t mutex;
};

SysLock* sys_lock_new()
{
    SysLock* lock = new SysLock;
    if (pthread_mutex_init(&lock->mutex, nullptr) != 0) {
        delete lock;
        return nullptr;
    }
    return lock;
}

void sys_lock(SysLock* lock)
{
    if (lock)
        pthread_mutex_lock(&lock->mutex);
}

void sys_unlock(SysLock* lock)
{
    if (lock)
        pthread_mutex_unlock(&lock->mutex);
}

void sys_lock_free(SysLock* lock)
{
    if (!lock)
        return;
    pthread_mutex_destroy(&lock->mutex);
    delete lock;
}
