#include "driver/frame_prefetch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#include "driver/output_writer.h"
#include "io/standard_error_redirect.h"

namespace strellix {

namespace {

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
  const std::string name = frame_file_name(prefetch.prefix, k);
  FrameRead read;
  // What the image library prints while it reads, then the reader's own
  // message.
  got.complaint = with_captured_standard_error(prefetch.capture_fd, [&] {
    read = grab_frame(prefetch.video, prefetch.capture, 1, name, prefetch.W, prefetch.H);
  });
  if (!read.error.empty()) got.complaint += program_note(read.error);
  got.image = std::move(read.frame);
  got.status = read.status;
  if (prefetch.engine != nullptr && !got.image.empty()) {
    prefetch.spare.take(got.model);
    // A failed allocation throws, and the loop receives it with the frame.
    prefetch.engine->convert(got.image, got.model);
  }
  return got;
}

}  // namespace

int open_capture_file() {
  return memfd_create("strellix-stderr", MFD_CLOEXEC);
}

std::string with_captured_standard_error(int capture_fd, const std::function<void()>& read) {
  std::lock_guard<std::mutex> hold(standard_error_gate());
  // Emptied first, so that only this read's text comes back.
  const bool emptied =
      capture_fd >= 0 && ftruncate(capture_fd, 0) == 0 && lseek(capture_fd, 0, SEEK_SET) == 0;
  bool captured = false;
  {
    const StandardErrorRedirect redirect(emptied ? capture_fd : -1);
    captured = redirect.active();
    read();
  }
  return captured ? read_back(capture_fd) : std::string();
}

void give_back(FramePrefetch& prefetch, FramePlanes&& model) {
  if (model.empty()) return;
  prefetch.spare.give_back(std::move(model));
}

void start_frame_prefetch(FramePrefetch& prefetch, RunState& run, bool convert) {
  prefetch.engine = convert ? run.engine.get() : nullptr;
  prefetch.video = run.settings.video;
  prefetch.capture = &run.capture;
  prefetch.prefix = run.names.prefix;
  prefetch.W = run.W;
  prefetch.H = run.H;
  // Without a place for the messages of a read, they could not be kept in
  // their place on the console: the loop then reads in line.
  prefetch.capture_fd = open_capture_file();
  if (prefetch.capture_fd < 0) throw std::system_error(errno, std::generic_category());
  prefetch.reads =
      std::make_unique<ReadAhead<LoadedFrame>>([&prefetch](long long k) { return load_frame(prefetch, k); });
}

int prefetch_depth(int video, int W, int H) {
  if (video) return 1;
  // Up to 64 MiB of frames waiting, decoded (3 bytes a pixel) and
  // converted (12).
  const double frame_bytes = 15.0 * (W > 0 ? W : 1) * (H > 0 ? H : 1);
  const double fit = (64.0 * 1024 * 1024) / frame_bytes;
  return fit >= 4 ? 4 : fit >= 2 ? static_cast<int>(fit) : 1;
}

void request_frame(FramePrefetch& prefetch, long long k) {
  prefetch.reads->ask(k);
}

LoadedFrame take_frame(FramePrefetch& prefetch, long long k) {
  LoadedFrame got = prefetch.reads->take(k);
  // A file that was missing when it was read ahead may have been written
  // since: it is looked for again now, when a loop reading in line would
  // look for it.
  if (!prefetch.video && got.status == GRAB_MISSING) return load_frame(prefetch, k);
  return got;
}

void stop_frame_prefetch(FramePrefetch& prefetch) {
  if (prefetch.reads) prefetch.reads->stop();
  if (prefetch.capture_fd >= 0) close(prefetch.capture_fd);
  prefetch.capture_fd = -1;
}

}  // namespace strellix
