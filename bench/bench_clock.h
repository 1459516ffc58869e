#pragma once
// Wall and process CPU time, and the median of repeated passes: what every
// bench that times whole commands reports.
#include <time.h>

#include <algorithm>
#include <vector>

struct BenchClock {
    double wall, cpu;
};

inline BenchClock bench_now()
{
    timespec w, c;
    clock_gettime(CLOCK_MONOTONIC, &w);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c);
    return {double(w.tv_sec) + double(w.tv_nsec) * 1e-9, double(c.tv_sec) + double(c.tv_nsec) * 1e-9};
}

inline double bench_median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
