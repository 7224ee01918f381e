#include "driver/frame_prefetch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include "driver/output_writer.h"

namespace {

// Points standard error at another file for the lifetime of the object and
// puts it back afterwards, also when the read throws.
struct StandardErrorRedirect {
  int saved = -1;
  explicit StandardErrorRedirect(int capture_fd) {
    if (capture_fd < 0) return;
    if (ftruncate(capture_fd, 0) != 0 || lseek(capture_fd, 0, SEEK_SET) != 0) return;
    std::fflush(stderr);
    saved = dup(STDERR_FILENO);
    if (saved < 0) return;
    if (dup2(capture_fd, STDERR_FILENO) < 0) {
      close(saved);
      saved = -1;
    }
  }
  ~StandardErrorRedirect() {
    if (saved < 0) return;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
  }
  StandardErrorRedirect(const StandardErrorRedirect&) = delete;
  StandardErrorRedirect& operator=(const StandardErrorRedirect&) = delete;
};

std::string read_back(int fd) {
  std::string text;
  char chunk[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(fd, chunk, sizeof chunk, offset);
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

// The same read as the loop's own, with its messages kept for later.
LoadedFrame load_frame(FramePrefetch& prefetch, long long k) {
  LoadedFrame got;
  got.status = GRAB_OK;
  const std::string name = frame_file_name(prefetch.prefix, k);
  got.complaint = with_captured_standard_error(prefetch.capture_fd, [&] {
    got.image = grab_frame(prefetch.video, prefetch.capture, 1, name, prefetch.W, prefetch.H,
                           &got.status);
  });
  return got;
}

void prefetch_main(FramePrefetch& prefetch) {
  std::unique_lock<std::mutex> hold(prefetch.lock);
  for (;;) {
    prefetch.changed.wait(
        hold, [&] { return prefetch.stopping || (prefetch.requested && !prefetch.ready); });
    if (prefetch.stopping) return;
    const long long k = prefetch.wanted;
    hold.unlock();
    LoadedFrame got;
    std::exception_ptr fault;
    try {
      got = load_frame(prefetch, k);
    } catch (...) {
      fault = std::current_exception();
    }
    hold.lock();
    // A read that is no longer wanted is dropped; the loop goes round and
    // reads the frame asked for instead.
    if (!prefetch.requested || prefetch.wanted != k) continue;
    prefetch.loaded = std::move(got);
    prefetch.fault = fault;
    prefetch.ready = true;
    prefetch.changed.notify_all();
  }
}

}  // namespace

int open_capture_file() { return memfd_create("strellix-stderr", MFD_CLOEXEC); }

std::string with_captured_standard_error(int capture_fd, const std::function<void()>& read) {
  std::lock_guard<std::mutex> hold(standard_error_gate());
  bool captured = false;
  {
    StandardErrorRedirect redirect(capture_fd);
    captured = redirect.saved >= 0;
    read();
  }
  return captured ? read_back(capture_fd) : std::string();
}

void start_frame_prefetch(FramePrefetch& prefetch, RunState& run) {
  prefetch.video = run.settings.video;
  prefetch.capture = &run.capture;
  prefetch.prefix = run.names.prefix;
  prefetch.W = run.W;
  prefetch.H = run.H;
  // Without a place for the messages of a read, they could not be kept in
  // their place on the console: the loop then reads in line.
  prefetch.capture_fd = open_capture_file();
  if (prefetch.capture_fd < 0) throw std::system_error(errno, std::generic_category());
  prefetch.worker = std::thread(prefetch_main, std::ref(prefetch));
}

void request_frame(FramePrefetch& prefetch, long long k) {
  {
    std::lock_guard<std::mutex> hold(prefetch.lock);
    if (prefetch.requested && prefetch.wanted == k) return;
    prefetch.wanted = k;
    prefetch.requested = true;
    prefetch.ready = false;
    prefetch.fault = nullptr;
  }
  prefetch.changed.notify_all();
}

LoadedFrame take_frame(FramePrefetch& prefetch, long long k) {
  request_frame(prefetch, k);
  std::unique_lock<std::mutex> hold(prefetch.lock);
  prefetch.changed.wait(hold, [&] { return prefetch.ready; });
  prefetch.requested = false;
  prefetch.ready = false;
  if (prefetch.fault) {
    std::exception_ptr fault = prefetch.fault;
    prefetch.fault = nullptr;
    hold.unlock();
    std::rethrow_exception(fault);
  }
  LoadedFrame got = std::move(prefetch.loaded);
  prefetch.loaded = LoadedFrame();
  return got;
}

void stop_frame_prefetch(FramePrefetch& prefetch) {
  if (prefetch.worker.joinable()) {
    {
      std::lock_guard<std::mutex> hold(prefetch.lock);
      prefetch.stopping = true;
    }
    prefetch.changed.notify_all();
    prefetch.worker.join();
  }
  if (prefetch.capture_fd >= 0) close(prefetch.capture_fd);
  prefetch.capture_fd = -1;
}
