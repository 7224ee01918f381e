// A small persistent pool for the per-frame passes. Work is split into
// contiguous parts by index; every index belongs to exactly one part, so a
// pass whose parts write disjoint data gives the same result with any number
// of threads.
#pragma once

#include <functional>

// Runs part(begin, end) over [0, count) split into contiguous parts, one per
// thread, the calling thread taking the first. Returns when every part is
// done. Counts below min_per_thread per thread run on the calling thread.
void run_split(int count, int min_per_thread, const std::function<void(int, int)>& part);

// Threads used by run_split, the calling thread included (at least 1).
// Defaults to the number of cores, at most 2.
void set_worker_threads(int threads);
int worker_threads();
