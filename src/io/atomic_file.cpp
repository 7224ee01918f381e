#include "io/atomic_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace strellix {

namespace {

// Files in progress, for the signal handler: writers on several threads may
// each have one. The handler may only look at plain static memory and
// lock-free atomics, so paths are kept in fixed buffers.
constexpr int in_progress_slots = 16;
constexpr int SLOT_FREE = 0;
constexpr int SLOT_FILLING = 1;
constexpr int SLOT_ACTIVE = 2;
constexpr int SLOT_NAMING = 3;  // its temporary name may be coming into being
struct InProgress {
  char path[4096];
  std::atomic<int> state{SLOT_FREE};
};
InProgress in_progress[in_progress_slots];
thread_local int own_slot = -1;
// Set once a cleanup signal is being handled: from then on no thread may
// give a file a temporary name, since the cleanup may have passed it by.
std::atomic<bool> ending{false};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads these");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets this");

const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

double monotonic_seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Writers on other threads go on while this runs. One that is naming its
// file is waited for (a system call or two, with these signals blocked on
// its thread); one about to name its file sees `ending` and stops. A file
// system that never answers must not keep the process from ending, so the
// wait has a limit.
extern "C" void remove_in_progress_and_reraise(int signal_number) {
  ending.store(true);
  const double give_up = monotonic_seconds() + 2.0;
  for (InProgress& slot : in_progress) {
    int state = slot.state.load();
    while (state == SLOT_NAMING && monotonic_seconds() < give_up) state = slot.state.load();
    if (state == SLOT_ACTIVE || state == SLOT_NAMING) unlink(slot.path);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

std::string extension_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

sigset_t cleanup_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : cleanup_signals) sigaddset(&set, signal_number);
  return set;
}

// The clean-up's side of a write: the temporary name registered for the
// signal handler, and the system call that makes it bracketed so that the
// handler either finds that name or comes first and keeps it from being
// made. The signals are blocked meanwhile so that the handler never waits
// on its own thread.
class SignalCleanupWatch : public TemporaryNameWatch {
 public:
  void begin(const std::string& temporary) override { begin_temporary_file(temporary); }
  void end() override { end_temporary_file(); }
  void naming() override {
    const sigset_t set = cleanup_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, &before_);
    if (own_slot >= 0) in_progress[own_slot].state.store(SLOT_NAMING);
    // The process is being ended by a signal: no new name, and nothing
    // more to do than wait for the end.
    if (ending.load()) {
      if (own_slot >= 0) in_progress[own_slot].state.store(SLOT_ACTIVE);
      pthread_sigmask(SIG_SETMASK, &before_, nullptr);
      for (;;) pause();
    }
  }
  void named() override {
    if (own_slot >= 0) in_progress[own_slot].state.store(SLOT_ACTIVE);
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }

 private:
  sigset_t before_;
};

}  // namespace

bool write_file_atomic(const std::string& path, const std::function<bool(int fd)>& write_content,
                       bool durable) {
  SignalCleanupWatch watch;
  return write_file_atomic(path, write_content, durable, &watch);
}

bool write_file_atomic(const std::string& path, const std::vector<unsigned char>& bytes) {
  return write_file_atomic(
      path, [&](int fd) { return write_all(fd, bytes.data(), bytes.size()); }, false);
}

bool save_image_atomic(const std::string& path, const cv::Mat& image) {
  const std::string extension = extension_of(path);
  bool encoded = false;
  std::vector<unsigned char> bytes;
  try {
    encoded = !extension.empty() && !image.empty() && cv::imencode(extension, image, bytes);
  } catch (const cv::Exception&) {
    encoded = false;
  }
  if (!encoded) {
    errno = 0;
    return false;
  }
  return write_file_atomic(path, bytes);
}

void install_temporary_file_cleanup() {
  for (int signal_number : cleanup_signals) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0) continue;
    // A signal the user chose to ignore (nohup) must stay ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = remove_in_progress_and_reraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

void begin_temporary_file(const std::string& temporary_path) {
  end_temporary_file();
  // A path that does not fit is not registered: a truncated copy could name
  // some other file.
  if (temporary_path.size() >= sizeof in_progress[0].path) return;
  for (int k = 0; k < in_progress_slots; ++k) {
    int expected = SLOT_FREE;
    if (!in_progress[k].state.compare_exchange_strong(expected, SLOT_FILLING)) continue;
    std::memcpy(in_progress[k].path, temporary_path.c_str(), temporary_path.size() + 1);
    in_progress[k].state.store(SLOT_ACTIVE, std::memory_order_release);
    own_slot = k;
    return;
  }
}

void end_temporary_file() {
  if (own_slot < 0) return;
  in_progress[own_slot].state.store(SLOT_FREE, std::memory_order_release);
  own_slot = -1;
}

}  // namespace strellix
