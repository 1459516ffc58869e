// The work pool: every task runs once, whatever the number of workers, and
// the workers run at once (a lock keeps a shared count right).
#include <atomic>
#include <vector>

#include "platform/thread.h"
#include "platform/work_pool.h"
#include "tests/support/test_support.h"

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs;
    std::atomic<int> running{0}, most_at_once{0};
    SysLock* lock = sys_lock_new();
    int64_t shared = 0;  // changed under the lock only
    explicit Tally(size_t count) : runs(count) {}
    ~Tally() { sys_lock_free(lock); }
};

void count_run(void* context, int64_t index)
{
    Tally* t = static_cast<Tally*>(context);
    int now = ++t->running;
    for (int seen = t->most_at_once; now > seen && !t->most_at_once.compare_exchange_weak(seen, now);) {
    }
    ++t->runs[size_t(index)];
    for (int k = 0; k < 1000; ++k) {
        sys_lock(t->lock);
        t->shared += 1;
        sys_unlock(t->lock);
    }
    --t->running;
}

} // namespace

TEST(WorkPool, EveryTaskRunsOnceOnAnyNumberOfWorkers)
{
    for (int workers : {1, 2, 4, 16}) {
        for (int64_t count : {0, 1, 3, 500}) {
            SCOPED_TRACE(std::to_string(workers) + " workers, " + std::to_string(count) + " tasks");
            Tally t{size_t(count)};
            sys_run_tasks(workers, count, count_run, &t);
            for (int64_t i = 0; i < count; ++i)
                ASSERT_EQ(t.runs[size_t(i)], 1) << "task " << i;
            EXPECT_EQ(t.shared, count * 1000);
            EXPECT_LE(t.most_at_once, workers);
        }
    }
    EXPECT_GE(sys_processor_count(), 1);
    EXPECT_EQ(sys_default_jobs(), sys_processor_count());
}
