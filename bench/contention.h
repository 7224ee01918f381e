// Contention mode: a second process streams through a buffer larger than
// the last-level cache on another core while the benchmark measures, as a
// busy neighbour on a shared machine would. A change that only wins on a
// quiet machine shows up in the ratios measured this way.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

class Contention {
 public:
  // Starts the streaming process on the last core and keeps this process
  // on the others; nothing happens on a machine with one core.
  explicit Contention(std::size_t bytes = std::size_t{256} << 20) {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (cores < 2) return;
    sched_getaffinity(0, sizeof saved_, &saved_);
    child_ = fork();
    if (child_ == 0) stream(bytes, static_cast<int>(cores - 1));
    cpu_set_t rest;
    CPU_ZERO(&rest);
    for (long c = 0; c + 1 < cores; ++c) CPU_SET(static_cast<int>(c), &rest);
    sched_setaffinity(0, sizeof rest, &rest);
  }
  ~Contention() {
    if (child_ <= 0) return;
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
    sched_setaffinity(0, sizeof saved_, &saved_);
  }
  Contention(const Contention&) = delete;
  Contention& operator=(const Contention&) = delete;
  bool active() const { return child_ > 0; }

 private:
  // Reads and writes every cache line of the buffer, over and over.
  [[noreturn]] static void stream(std::size_t bytes, int core) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(core, &one);
    sched_setaffinity(0, sizeof one, &one);
    volatile unsigned char* buffer = static_cast<unsigned char*>(std::malloc(bytes));
    if (buffer == nullptr) _exit(1);
    for (unsigned char round = 0;; ++round)
      for (std::size_t i = 0; i < bytes; i += 64) buffer[i] = static_cast<unsigned char>(buffer[i] + round);
  }

  pid_t child_ = -1;
  cpu_set_t saved_{};
};
