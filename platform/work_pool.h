#pragma once
// Independent pieces of work spread over the processors: the caller names a
// count of tasks and a function, and gets control back when all have run.
// Tasks are handed out in index order but may finish in any order, so each
// writes only its own slot of the caller's results; whatever must come out
// in order (files, messages) the caller does after, from those slots.
#include <cstdint>

// Runs task(context, i) for every i in [0, count) on at most `workers`
// threads, the caller's own among them (1: all on the caller's thread, in
// order). Where fewer threads can be started, the ones there are do the rest.
void sys_run_tasks(int workers, int64_t count, void (*task)(void* context, int64_t index), void* context);

// The number of workers `--jobs` means when it is not given: the processors.
int sys_default_jobs();
