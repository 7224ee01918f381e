#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/worker_pool.h"

using namespace strellix;

namespace {

// Every index is handed out exactly once, in contiguous pieces, whatever
// the count, the piece size and the number of threads (no pool: the
// calling thread alone).
TEST(WorkerPool, EveryIndexRunsExactlyOnce) {
  for (int threads : {0, 1, 2, 3, 4}) {
    std::unique_ptr<WorkerPool> pool;
    if (threads > 0) {
      pool = std::make_unique<WorkerPool>(threads);
      EXPECT_EQ(pool->threads(), threads);
    }
    for (int count = 0; count <= 70; ++count) {
      for (int min_piece : {0, 1, 3, 16, 100}) {
        std::vector<std::atomic<int>> hits(count);
        for (auto& h : hits) h = 0;
        std::atomic<int> calls{0};
        run_split(pool.get(), count, min_piece, [&](int begin, int end) {
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
  EXPECT_EQ(WorkerPool(0).threads(), 1);
}

// Many short jobs in a row: a worker that wakes late must never run a
// piece of a job that has already ended, nor miss one of the next.
TEST(WorkerPool, ManyShortJobsInARow) {
  WorkerPool pool(2);
  std::vector<int> cells(64, 0);
  for (int job = 0; job < 20000; ++job) {
    run_split(&pool, 64, 1, [&](int begin, int end) {
      for (int i = begin; i < end; ++i) ++cells[i];
    });
  }
  for (int i = 0; i < 64; ++i) EXPECT_EQ(cells[i], 20000) << i;
}

// Runs jobs on the pool until `count` threads have taken part in one (or a
// few seconds have passed), so that every thread of the pool has started.
void until_threads_took_part(WorkerPool* pool, std::size_t count) {
  std::mutex lock;
  std::set<std::thread::id> seen;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < until) {
    run_split(pool, 64, 1, [&](int, int) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      std::lock_guard<std::mutex> hold(lock);
      seen.insert(std::this_thread::get_id());
    });
    if (seen.size() >= count) return;
  }
}

// A child of fork() has the pool's handles but not its threads: its jobs
// still run whole, and ending the pool there neither hangs nor crashes.
TEST(WorkerPool, UsableInAForkedChild) {
  auto pool = std::make_unique<WorkerPool>(3);
  std::atomic<int> sum{0};
  run_split(pool.get(), 64, 1, [&](int begin, int end) { sum += end - begin; });
  until_threads_took_part(pool.get(), 3);
  // Fork only once the workers sleep: a thread caught inside the allocator
  // (as a new one is, while it starts) would leave the child's allocator
  // locked under AddressSanitizer, whose allocator does not prepare for
  // fork() as the C library's does.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const pid_t child = fork();
  if (child == 0) {
    std::atomic<int> again{0};
    run_split(pool.get(), 64, 1, [&](int begin, int end) { again += end - begin; });
    pool.reset();
    _exit(again.load() == 64 ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(sum.load(), 64);
}

}  // namespace
