// The work pool: threads pull the next index from one shared counter, so a
// slow task holds up only its own thread.
#include "platform/work_pool.h"

#include <atomic>
#include <vector>

#include "platform/thread.h"

namespace {

struct Pool {
    std::atomic<int64_t> next{0};
    int64_t count = 0;
    void (*task)(void*, int64_t) = nullptr;
    void* context = nullptr;
};

void work(void* argument)
{
    Pool* pool = static_cast<Pool*>(argument);
    for (int64_t i = pool->next.fetch_add(1); i < pool->count; i = pool->next.fetch_add(1))
        pool->task(pool->context, i);
}

} // namespace

void sys_run_tasks(int workers, int64_t count, void (*task)(void*, int64_t), void* context)
{
    Pool pool;
    pool.count = count;
    pool.task = task;
    pool.context = context;
    if (workers > count)
        workers = int(count);
    std::vector<SysThread*> threads;
    for (int w = 1; w < workers; ++w)
        if (SysThread* t = sys_thread_start(work, &pool))
            threads.push_back(t);
    work(&pool);
    for (SysThread* t : threads)
        sys_thread_join(t);
}

int sys_default_jobs() { return sys_processor_count(); }
