// The public temporal median: the engine's median builder, run the way the
// pass table says an engine of these threads would run it.
#include <stdexcept>
#include <string>

#include "core/frame_input.h"
#include "core/worker_pool.h"
#include "engine/median_builder.h"
#include "engine/pass_table.h"
#include "strellix/strellix.hpp"

namespace strellix {

struct TemporalMedian::State {
  State(int count, cv::Size size, int threads)
      : frame_count(count),
        frame_size(size),
        thread_count(threads),
        builder(count, size.width, size.height) {}
  int frame_count;
  cv::Size frame_size;
  int thread_count;
  MedianBuilder builder;
};

namespace {

TemporalMedian::State* new_state(int frame_count, cv::Size size, int threads) {
  if (frame_count < 1 || size.width < 1 || size.height < 1)
    throw std::invalid_argument("strellix: a temporal median needs at least one frame of at least one pixel");
  Parameters p;
  p.median_frames = frame_count;
  p.threads = threads;
  validate(p);
  return new TemporalMedian::State(frame_count, size, threads);
}

}  // namespace

TemporalMedian::TemporalMedian(int frame_count, cv::Size size, int threads)
    : state_(new_state(frame_count, size, threads)) {}
TemporalMedian::~TemporalMedian() = default;
TemporalMedian::TemporalMedian(TemporalMedian&& other) noexcept = default;
TemporalMedian& TemporalMedian::operator=(TemporalMedian&& other) noexcept = default;

void TemporalMedian::add(const cv::Mat& frame) {
  if (!state_) throw std::logic_error("strellix: this TemporalMedian was moved from");
  State& s = *state_;
  if (s.builder.added() >= s.frame_count)
    throw std::invalid_argument("strellix: the median has its " + std::to_string(s.frame_count) +
                                " frames already");
  const cv::Mat bgr = require_bgr8(frame, "frame");
  if (bgr.size() != s.frame_size) {
    throw std::invalid_argument("strellix: the frame is " + std::to_string(bgr.cols) + "x" +
                                std::to_string(bgr.rows) + " pixels, the median " +
                                std::to_string(s.frame_size.width) + "x" +
                                std::to_string(s.frame_size.height));
  }
  s.builder.add(bgr);
}

int TemporalMedian::added() const {
  return state_ ? state_->builder.added() : 0;
}

// The same kernels and the same execution as an engine's median: every
// entry of the pass table counts the same, the threaded ones only sooner.
cv::Mat TemporalMedian::result() const {
  if (!state_ || state_->builder.added() == 0)
    throw std::logic_error("strellix: the temporal median has no frame yet");
  Parameters p;
  p.threads = state_->thread_count;
  const PassSet& passes = choose_passes(p);
  PassExecution run;
  run.wide = passes.wide;
  if (!passes.threaded) return state_->builder.result(run);
  WorkerPool pool(p.threads > 0 ? p.threads : core_count());
  run.workers = &pool;
  return state_->builder.result(run);
}

}  // namespace strellix
