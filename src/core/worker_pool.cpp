#include "core/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace strellix {

namespace {

// Between the passes of one frame the workers stay awake a short while, so a
// pass does not pay a wake-up; after that they sleep and leave the core to
// whatever else the program runs (decoding, writing).
constexpr auto SPIN_TIME = std::chrono::microseconds(50);

// Pieces per thread: enough that a thread the system holds back leaves its
// share to the others.
constexpr int PIECES_PER_THREAD = 8;

// The claim word: job number, piece count and next unclaimed piece. A
// claim is one atomic add, so a worker that wakes late can only claim a
// piece of the job that is current at that moment, never one of a job that
// has ended.
constexpr int NEXT_BITS = 20;
constexpr int COUNT_BITS = 20;
constexpr std::uint64_t FIELD_MASK = (std::uint64_t{1} << NEXT_BITS) - 1;

std::uint64_t job_of(std::uint64_t word) {
  return word >> (NEXT_BITS + COUNT_BITS);
}
int pieces_of(std::uint64_t word) {
  return static_cast<int>((word >> NEXT_BITS) & FIELD_MASK);
}
int next_of(std::uint64_t word) {
  return static_cast<int>(word & FIELD_MASK);
}

}  // namespace

struct WorkerPool::State {
  std::mutex call_mutex;  // one job at a time
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable done;
  std::vector<std::unique_ptr<std::thread>> workers;
  pid_t owner = getpid();  // the process whose threads `workers` are
  std::atomic<std::uint64_t> claim{0};
  std::atomic<int> finished{0};
  bool stop = false;
  // The current job; stable while any of its pieces is unfinished.
  void (*part)(const void*, int, int) = nullptr;
  const void* context = nullptr;
  int count = 0;
  int threads = 1;

  ~State() { shut_down(); }

  // A child of fork() inherits the handles but none of the threads, and
  // locks and condition variables in whatever state those threads left
  // them. It lets the handles go unjoined (joining or detaching them would
  // act on threads of another process), makes the synchronisation afresh
  // and starts its own threads when it needs them. Called before any lock
  // is taken.
  void start_over_after_fork() {
    if (owner == getpid()) return;
    for (std::unique_ptr<std::thread>& t : workers) t.release();  // deliberately not freed
    workers.clear();
    new (&call_mutex) std::mutex();
    new (&mutex) std::mutex();
    new (&wake) std::condition_variable();
    new (&done) std::condition_variable();
    claim.store(0);
    finished.store(0);
    stop = false;
    owner = getpid();
  }

  void shut_down() {
    start_over_after_fork();
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_all();
    for (std::unique_ptr<std::thread>& t : workers) t->join();
    workers.clear();
    stop = false;
  }
};

namespace {

using Pool = WorkerPool::State;

int piece_begin(int count, int pieces, int k) {
  return static_cast<int>(static_cast<long long>(count) * k / pieces);
}

// Claims and runs pieces of the current job until none is left.
void run_pieces(Pool& p) {
  for (;;) {
    const std::uint64_t word = p.claim.fetch_add(1, std::memory_order_acq_rel);
    const int pieces = pieces_of(word);
    const int k = next_of(word);
    if (k >= pieces) return;
    p.part(p.context, piece_begin(p.count, pieces, k), piece_begin(p.count, pieces, k + 1));
    if (p.finished.fetch_add(1, std::memory_order_acq_rel) + 1 == pieces) {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.done.notify_all();
    }
  }
}

// Waits for a job other than `seen`; false when the pool stops.
bool wait_for_job(Pool& p, std::uint64_t seen) {
  const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
  for (int i = 0; job_of(p.claim.load(std::memory_order_acquire)) == seen; ++i) {
    if ((i & 63) == 0 && std::chrono::steady_clock::now() > until) break;
    cpu_relax();
  }
  std::unique_lock<std::mutex> lock(p.mutex);
  p.wake.wait(lock, [&] { return p.stop || job_of(p.claim.load(std::memory_order_acquire)) != seen; });
  return !p.stop;
}

// The workers give way to the program's other threads (reading frames
// ahead, writing masks) whenever both want a core: the calling thread does
// whatever pieces a worker leaves, but the loop would have to wait for a
// frame that was not read in time. Without permission nothing changes.
constexpr int WORKER_NICENESS = 10;

void give_way() {
#ifdef __linux__
  const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(self));
  if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(self), std::min(19, current + WORKER_NICENESS));
#endif
}

void worker_main(Pool& p) {
  give_way();
  std::uint64_t seen = job_of(p.claim.load(std::memory_order_acquire));
  while (wait_for_job(p, seen)) {
    seen = job_of(p.claim.load(std::memory_order_acquire));
    run_pieces(p);
  }
}

// A thread the system refuses leaves its share to the threads there are:
// pieces are claimed, not assigned, so fewer threads change no result.
void start_workers(Pool& p) {
  const int wanted = p.threads - 1;
  if (static_cast<int>(p.workers.size()) == wanted) return;
  p.shut_down();
  try {
    for (int i = 0; i < wanted; ++i) p.workers.emplace_back(new std::thread(worker_main, std::ref(p)));
  } catch (const std::system_error&) {
    p.threads = static_cast<int>(p.workers.size()) + 1;
  }
}

}  // namespace

WorkerPool::WorkerPool(int threads) : state_(new State) {
  state_->threads = std::max(1, threads);
}

WorkerPool::~WorkerPool() = default;

int WorkerPool::threads() const {
  return state_->threads;
}

int core_count() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores >= 1 ? static_cast<int>(cores) : 1;
}

void wait_for(const std::atomic<int>& done, int needed) {
  for (int spins = 0; done.load(std::memory_order_acquire) < needed; ++spins) {
    if (spins % 64 == 63)
      sched_yield();
    else
      cpu_relax();
  }
}

void run_split_pieces(WorkerPool* pool, int count, int min_piece, void (*part)(const void*, int, int),
                      const void* context) {
  if (count <= 0) return;
  if (pool == nullptr) {
    part(context, 0, count);
    return;
  }
  pool->run(count, min_piece, part, context);
}

void WorkerPool::run(int count, int min_piece, void (*part)(const void*, int, int), const void* context) {
  if (count <= 0) return;
  Pool& p = *state_;
  p.start_over_after_fork();
  std::lock_guard<std::mutex> call(p.call_mutex);
  const int by_size = min_piece > 0 ? count / min_piece : count;
  const int pieces =
      std::max(1, std::min({p.threads * PIECES_PER_THREAD, by_size, static_cast<int>(FIELD_MASK / 2)}));
  if (p.threads == 1 || pieces == 1) {
    part(context, 0, count);
    return;
  }
  start_workers(p);
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    p.part = part;
    p.context = context;
    p.count = count;
    p.finished.store(0, std::memory_order_relaxed);
    const std::uint64_t job = job_of(p.claim.load(std::memory_order_relaxed)) + 1;
    p.claim.store((job << (NEXT_BITS + COUNT_BITS)) | (static_cast<std::uint64_t>(pieces) << NEXT_BITS),
                  std::memory_order_release);
  }
  p.wake.notify_all();
  run_pieces(p);
  for (int i = 0; i < 4000 && p.finished.load(std::memory_order_acquire) != pieces; ++i) cpu_relax();
  std::unique_lock<std::mutex> lock(p.mutex);
  p.done.wait(lock, [&] { return p.finished.load(std::memory_order_acquire) == pieces; });
}

}  // namespace strellix
