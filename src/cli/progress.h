// The progress of a run as one line on standard error that rewrites
// itself: frame, total where known, frames per second, time left. Shown
// only on a terminal; batch jobs and pipes get none of it.
#pragma once

#include <chrono>
#include <string>

namespace strellix::cli {

class Progress {
 public:
  // Shown when `wanted` and standard error is a terminal; `total` frames in
  // the run, -1 when unknown.
  Progress(bool wanted, long long total);
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // From the frame after the `done`-th on, frames are read as they are
  // processed: speed and time left are measured from here, not over the
  // frames of the median, which were read before and go faster.
  void start_estimate(long long done);

  // Frame `number` is done, the `done`-th of the run. The line is redrawn at
  // most a few times a second, and for the first frame.
  void frame_done(long long number, long long done);

  // Takes the line away, leaving the cursor where it was before.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_ = false, drawn_ = false;
  long long total_ = -1;
  long long done_at_start_ = -1;
  Clock::time_point started_, last_drawn_;
};

// "1:05", "12:00:03": a duration for people.
std::string clock_text(double seconds);

}  // namespace strellix::cli
