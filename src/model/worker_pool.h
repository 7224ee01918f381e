// A small persistent pool for the per-frame passes. Work is cut into
// contiguous pieces by index and every piece runs exactly once, on whichever
// thread claims it first; a pass whose pieces write disjoint data therefore
// gives the same result with any number of threads and any timing.
#pragma once

namespace strellix {

// Runs part(context, begin, end) over [0, count) cut into contiguous pieces
// of at least min_piece indices (when count allows), on the calling thread
// and the workers. Returns when every piece is done.
void run_split_pieces(int count, int min_piece, void (*part)(const void* context, int begin, int end),
                      const void* context);

// The same for any callable part(begin, end); nothing is allocated.
template <class Part>
void run_split(int count, int min_piece, const Part& part) {
  run_split_pieces(
      count, min_piece,
      [](const void* context, int begin, int end) { (*static_cast<const Part*>(context))(begin, end); },
      &part);
}

// Threads used by run_split, the calling thread included (at least 1).
// Defaults to the number of cores, at most 2.
void set_worker_threads(int threads);
int worker_threads();

}  // namespace strellix
