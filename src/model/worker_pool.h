// A small persistent pool for the per-frame passes. Work is cut into
// contiguous pieces by index and every piece runs exactly once, on whichever
// thread claims it first; a pass whose pieces write disjoint data therefore
// gives the same result with any number of threads and any timing.
#pragma once

#include <functional>

// Runs part(begin, end) over [0, count) cut into contiguous pieces of at
// least min_piece indices (when count allows), on the calling thread and
// the workers. Returns when every piece is done.
void run_split(int count, int min_piece, const std::function<void(int, int)>& part);

// Threads used by run_split, the calling thread included (at least 1).
// Defaults to the number of cores, at most 2.
void set_worker_threads(int threads);
int worker_threads();
