#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "io/atomic_file.h"

namespace strellix::cli {

namespace {

const int handled_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int handled_count = sizeof handled_signals / sizeof handled_signals[0];

// What the signal handler may touch: lock-free atomics and fixed buffers.
std::atomic<int> requested_stop{0};
constexpr int temporary_slots = 4;
struct Temporary {
  char path[4096];
  std::atomic<bool> in_use{false};
};
Temporary temporaries[temporary_slots];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads these");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads these");

// The atomic-file cleanup's handler, called on the second signal.
struct sigaction previous[handled_count];

int index_of(int signal_number) {
  for (int k = 0; k < handled_count; ++k)
    if (handled_signals[k] == signal_number) return k;
  return -1;
}

extern "C" void on_stop_signal(int signal_number) {
  int none = 0;
  if (requested_stop.compare_exchange_strong(none, signal_number)) return;
  for (Temporary& t : temporaries)
    if (t.in_use.load()) unlink(t.path);
  const int k = index_of(signal_number);
  if (k >= 0 && previous[k].sa_handler != SIG_DFL && previous[k].sa_handler != SIG_IGN) {
    previous[k].sa_handler(signal_number);  // removes its files and re-raises
  }
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void install_interrupt_handling() {
  install_temporary_file_cleanup();
  // Writing to a closed pipe (standard output read by a program that went
  // away, a stream server that hung up) must not end the run.
  signal(SIGPIPE, SIG_IGN);
  for (int k = 0; k < handled_count; ++k) {
    if (sigaction(handled_signals[k], nullptr, &previous[k]) != 0) continue;
    if (previous[k].sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(handled_signals[k], &action, nullptr);
  }
}

int stop_signal() {
  return requested_stop.load();
}

int remember_temporary(const std::string& path) {
  if (path.size() >= sizeof temporaries[0].path) return -1;
  for (int k = 0; k < temporary_slots; ++k) {
    if (temporaries[k].in_use.load()) continue;
    std::memcpy(temporaries[k].path, path.c_str(), path.size() + 1);
    temporaries[k].in_use.store(true);
    return k;
  }
  return -1;
}

void forget_temporary(int slot) {
  if (slot >= 0 && slot < temporary_slots) temporaries[slot].in_use.store(false);
}

void end_by_signal(int signal_number) {
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  _exit(128 + signal_number);  // the signal was blocked or ignored after all
}

}  // namespace strellix::cli
