// A small persistent pool for the per-frame passes of one model. Work is
// cut into contiguous pieces by index and every piece runs exactly once, on
// whichever thread claims it first; a pass whose pieces write disjoint data
// therefore gives the same result with any number of threads and any
// timing.
#pragma once

#include <atomic>
#include <memory>

namespace strellix {

class WorkerPool {
 public:
  // `threads` counts the calling thread too (at least 1); the workers start
  // with the first job that has more than one piece.
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const;

  // Runs part(context, begin, end) over [0, count) cut into contiguous
  // pieces of at least min_piece indices (when count allows), on the
  // calling thread and the workers. Returns when every piece is done. One
  // job at a time: concurrent callers wait for each other.
  void run(int count, int min_piece, void (*part)(const void* context, int begin, int end),
           const void* context);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// The number of cores, at least 1.
int core_count();

// A moment's pause inside a wait that spins: lets the other hyperthread of
// the core run and saves power.
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Waits until `done` reaches `needed` (a wavefront's row waiting for the
// row above); yields the core now and then, since the thread being waited
// for may need it.
void wait_for(const std::atomic<int>& done, int needed);

// Runs a job on `pool`, or on the calling thread alone when pool is null.
void run_split_pieces(WorkerPool* pool, int count, int min_piece,
                      void (*part)(const void* context, int begin, int end), const void* context);

// The same for any callable part(begin, end); nothing is allocated.
template <class Part>
void run_split(WorkerPool* pool, int count, int min_piece, const Part& part) {
  run_split_pieces(
      pool, count, min_piece,
      [](const void* context, int begin, int end) { (*static_cast<const Part*>(context))(begin, end); },
      &part);
}

}  // namespace strellix
