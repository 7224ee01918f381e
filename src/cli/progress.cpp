#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace strellix::cli {

namespace {

constexpr double redraw_seconds = 0.25;

double seconds_between(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

std::string clock_text(double seconds) {
  const long long whole = seconds < 0 ? 0 : static_cast<long long>(seconds + 0.5);
  char text[48];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

Progress::Progress(bool wanted, long long total)
    : shown_(wanted && isatty(STDERR_FILENO) == 1), total_(total), started_(Clock::now()) {}

void Progress::start_estimate(long long done) {
  done_at_start_ = done;
  started_ = Clock::now();
}

void Progress::frame_done(long long number, long long done) {
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && seconds_between(last_drawn_, now) < redraw_seconds) return;
  const double elapsed = seconds_between(started_, now);
  // Measured over the frames since start_estimate (a resumed run starts
  // part way), once there is a moment to measure over; none before.
  const double rate = done_at_start_ >= 0 && elapsed >= redraw_seconds
                          ? static_cast<double>(done - done_at_start_) / elapsed
                          : 0.0;
  std::string line = "frame " + std::to_string(number);
  if (total_ > 0) line += "  " + std::to_string(done) + "/" + std::to_string(total_);
  char speed[64];
  if (rate > 0.0) {
    std::snprintf(speed, sizeof speed, "  %.1f frames/s", rate);
    line += speed;
    if (total_ > 0 && done <= total_)
      line += "  " + clock_text(static_cast<double>(total_ - done) / rate) + " left";
  }
  // Carriage return, the line, and the rest of the old line erased.
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
  last_drawn_ = now;
}

void Progress::clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace strellix::cli
