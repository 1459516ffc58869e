// Threads on POSIX systems.
#include <pthread.h>

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
