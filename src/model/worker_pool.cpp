#include "model/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Between the passes of one frame the workers stay awake a short while, so a
// pass does not pay a wake-up; after that they sleep and leave the core to
// whatever else the program runs (decoding, writing).
constexpr auto SPIN_TIME = std::chrono::microseconds(100);

int default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 2 ? 2 : 1;
}

struct Pool {
    std::mutex call_mutex;  // one run_split at a time
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::vector<std::thread> workers;
    std::atomic<std::uint64_t> generation{0};
    std::atomic<int> remaining{0};
    bool stop = false;
    // The current job, published before `generation` moves on.
    const std::function<void(int, int)>* part = nullptr;
    int count = 0;
    int parts = 1;
    int threads = default_threads();

    ~Pool() { shut_down(); }

    void shut_down() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
        for (std::thread& t : workers) t.join();
        workers.clear();
        stop = false;
    }
};

Pool& pool() {
    static Pool instance;
    return instance;
}

int part_begin(int count, int parts, int k) {
    return static_cast<int>(static_cast<long long>(count) * k / parts);
}

bool wait_for_generation(Pool& p, std::uint64_t seen) {
    const auto until = std::chrono::steady_clock::now() + SPIN_TIME;
    for (int i = 0; p.generation.load(std::memory_order_acquire) == seen; ++i) {
        if ((i & 63) == 0 && std::chrono::steady_clock::now() > until) break;
        cpu_relax();
    }
    std::unique_lock<std::mutex> lock(p.mutex);
    p.wake.wait(lock, [&] { return p.stop || p.generation.load(std::memory_order_acquire) != seen; });
    return !p.stop;
}

void worker_main(Pool& p, int index, std::uint64_t seen) {
    while (wait_for_generation(p, seen)) {
        seen = p.generation.load(std::memory_order_acquire);
        if (index < p.parts) {
            (*p.part)(part_begin(p.count, p.parts, index), part_begin(p.count, p.parts, index + 1));
        }
        if (p.remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard<std::mutex> lock(p.mutex);
            p.done.notify_all();
        }
    }
}

void start_workers(Pool& p) {
    const int wanted = p.threads - 1;
    if (static_cast<int>(p.workers.size()) == wanted) return;
    p.shut_down();
    const std::uint64_t seen = p.generation.load();
    for (int i = 1; i <= wanted; ++i) p.workers.emplace_back(worker_main, std::ref(p), i, seen);
}

}  // namespace

void set_worker_threads(int threads) {
    Pool& p = pool();
    std::lock_guard<std::mutex> call(p.call_mutex);
    p.threads = std::max(1, threads);
}

int worker_threads() {
    Pool& p = pool();
    std::lock_guard<std::mutex> call(p.call_mutex);
    return p.threads;
}

void run_split(int count, int min_per_thread, const std::function<void(int, int)>& part) {
    if (count <= 0) return;
    Pool& p = pool();
    std::lock_guard<std::mutex> call(p.call_mutex);
    const int by_size = min_per_thread > 0 ? count / min_per_thread : count;
    const int parts = std::max(1, std::min(p.threads, by_size));
    if (parts == 1) {
        part(0, count);
        return;
    }
    start_workers(p);
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.part = &part;
        p.count = count;
        p.parts = parts;
        p.remaining.store(static_cast<int>(p.workers.size()), std::memory_order_relaxed);
        p.generation.fetch_add(1, std::memory_order_acq_rel);
    }
    p.wake.notify_all();
    part(part_begin(count, parts, 0), part_begin(count, parts, 1));
    for (int i = 0; p.remaining.load(std::memory_order_acquire) != 0 && i < 20000; ++i) cpu_relax();
    std::unique_lock<std::mutex> lock(p.mutex);
    p.done.wait(lock, [&] { return p.remaining.load(std::memory_order_acquire) == 0; });
}
