#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "model/worker_pool.h"

using namespace strellix;

namespace {

struct ThreadScope {
  int saved = worker_threads();
  ~ThreadScope() { set_worker_threads(saved); }
};

// Every index is handed out exactly once, in contiguous pieces, whatever
// the count, the piece size and the number of threads.
TEST(WorkerPool, EveryIndexRunsExactlyOnce) {
  ThreadScope scope;
  for (int threads : {1, 2, 3, 4}) {
    set_worker_threads(threads);
    EXPECT_EQ(worker_threads(), threads);
    for (int count = 0; count <= 70; ++count) {
      for (int min_piece : {0, 1, 3, 16, 100}) {
        std::vector<std::atomic<int>> hits(count);
        for (auto& h : hits) h = 0;
        std::atomic<int> calls{0};
        run_split(count, min_piece, [&](int begin, int end) {
          ++calls;
          EXPECT_LE(0, begin);
          EXPECT_LT(begin, end);
          EXPECT_LE(end, count);
          for (int i = begin; i < end; ++i) ++hits[i];
        });
        for (int i = 0; i < count; ++i) {
          ASSERT_EQ(hits[i].load(), 1) << threads << " " << count << " " << i;
        }
        if (count == 0) {
          EXPECT_EQ(calls.load(), 0);
        }
      }
    }
  }
  set_worker_threads(0);
  EXPECT_EQ(worker_threads(), 1);
}

// Many short jobs in a row: a worker that wakes late must never run a
// piece of a job that has already ended, nor miss one of the next.
TEST(WorkerPool, ManyShortJobsInARow) {
  ThreadScope scope;
  set_worker_threads(2);
  std::vector<int> cells(64, 0);
  for (int job = 0; job < 20000; ++job) {
    run_split(64, 1, [&](int begin, int end) {
      for (int i = begin; i < end; ++i) ++cells[i];
    });
  }
  for (int i = 0; i < 64; ++i) EXPECT_EQ(cells[i], 20000) << i;
}

}  // namespace
