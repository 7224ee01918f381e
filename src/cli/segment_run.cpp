#include "cli/segment_run.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>

#include "cli/checkpoint.h"
#include "cli/command_failure.h"
#include "cli/frame_pipeline.h"
#include "cli/input_source.h"
#include "cli/interrupt.h"
#include "cli/median_seed.h"
#include "cli/output_dir.h"
#include "cli/progress.h"
#include "cli/run_memory.h"
#include "cli/run_outputs.h"
#include "cli/run_record.h"
#include "io/frame_source.h"
#include "io/ordered_writer.h"

namespace strellix::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Frames read and prepared ahead of the model, and frames whose outputs
// may wait to be written: a few, enough to even out the work of the three
// threads.
constexpr int FRAMES_AHEAD = 3;
constexpr int WRITES_WAITING = 4;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Refused before anything is allocated or written: the model, the median's
// store and the frames kept for it would not fit in the machine's memory.
void check_memory(const Parameters& p, cv::Size size, long long median_frames) {
  const double needed = run_memory(p, size, median_frames).total();
  if (fits_in_memory(needed)) return;
  const double available = static_cast<double>(physical_memory());
  const std::string median =
      median_frames > 0 ? " and the median of " + std::to_string(median_frames) + " frames" : std::string();
  char amounts[128];
  std::snprintf(amounts, sizeof amounts, " need %.0f bytes, the machine has %.0f", needed, available);
  throw CommandFailure(EXIT_MEMORY, "not enough memory: " + std::to_string(p.layers) + " layers" + median +
                                        " for " + std::to_string(size.width) + "x" +
                                        std::to_string(size.height) + " frames" + amounts);
}

class SegmentRun {
 public:
  explicit SegmentRun(const SegmentOptions& options) : o_(options), outputs_(options) {}

  int execute() {
    try {
      input_ = open_input(o_.location, o_.start, o_.end);
      if (o_.resume)
        resume_from_checkpoint();
      else
        start_afresh();
      return finish(segment_frames());
    } catch (const CommandFailure& failure) {
      // run.json tells how far a run that got going went.
      if (outdir_ready_) {
        record_.exit_code = failure.code();
        record_.status = "failed";
        fill_timings();
        write_run_record(o_, record_);
      }
      throw;
    }
  }

 private:
  // Reads the first frame, fixes the size, prepares OUTDIR and seeds the
  // model; the frames read for the median are kept for segmenting.
  void start_afresh() {
    long long number = 0;
    const FrameRead read = input_->read(number);
    if (read.status == GRAB_UNUSABLE) throw input_error(read.error);
    if (read.status != GRAB_OK) throw input_error(o_.location.text + " has no frame to read");
    const cv::Mat& first = read.frame;
    const cv::Size size = first.size();
    const bool median = o_.background_file.empty();
    long long median_frames = median ? o_.parameters.median_frames : 0;
    if (median && input_->total() > 0) median_frames = std::min(median_frames, input_->total());
    check_memory(o_.parameters, size, median_frames);
    model_ = std::make_unique<Subtractor>(o_.parameters);
    ready_outdir(size);
    if (o_.checkpoint_every > 0) write_run_description(o_, describe_run(o_, input_->first_number()));

    const Clock::time_point seeding = Clock::now();
    held_.push_back({first, number});
    cv::Mat seed;
    if (median) {
      if (!read_median_frames()) return;  // stopped by a signal
      std::deque<cv::Mat> frames;
      for (const HeldFrame& h : held_) frames.push_back(h.frame);
      seed = temporal_median(frames, o_.parameters.threads);
    } else {
      seed = read_seed_image(o_.background_file, size);
    }
    model_->initialize_background(seed);
    outputs_.write_seed(seed);
    record_.seconds_median = seconds_since(seeding);
  }

  // The rest of the median's frames; false when a signal stopped the run.
  // An input shorter than --median-frames gives the median of what there is.
  bool read_median_frames() {
    while (static_cast<long long>(held_.size()) < o_.parameters.median_frames) {
      if (stop_signal() != 0) return false;
      HeldFrame h;
      FrameRead read = input_->read(h.number);
      if (read.status == GRAB_MISSING) break;
      if (read.status == GRAB_UNUSABLE)
        throw input_error(read.error);  // as a frame of the median, like Strellixplus
      h.frame = std::move(read.frame);
      held_.push_back(h);
    }
    return true;
  }

  // Takes the model of the last checkpoint and goes on from the frame after
  // it; the videos are written again from the first frame.
  void resume_from_checkpoint() {
    check_run_description(o_, describe_run(o_, input_->first_number()));
    model_ = std::make_unique<Subtractor>(load_checkpoint(o_));
    const cv::Size size = model_->frame_size();
    input_->expect_size(size);
    ready_outdir(size);
    const long long done = model_->frames_applied();
    record_.resumed_after = done;
    if (done > 0) {
      record_.first = input_->first_number();
      record_.last = input_->first_number() + done - 1;
    }
    if (outputs_.wants_videos()) {
      rewrite_videos(done);
    } else if (!input_->skip(done)) {
      throw input_error(o_.location.text + " now has fewer frames than the checkpoint's " +
                        std::to_string(done));
    }
    position_ = done;
  }

  // The videos of the frames before the checkpoint, from the input and the
  // masks written then.
  void rewrite_videos(long long count) {
    for (long long k = 0; k < count; ++k) {
      long long number = 0;
      const FrameRead read = input_->read(number);
      const cv::Mat& frame = read.frame;
      if (read.status == GRAB_UNUSABLE) throw CommandFailure(EXIT_BAD_FRAME, read.error);
      if (read.status != GRAB_OK)
        throw input_error(o_.location.text + " now has fewer frames than the checkpoint's " +
                          std::to_string(count));
      const std::string mask_path = output_path(o_, mask_file_name(number));
      cv::Mat mask;
      try {
        mask = cv::imread(mask_path, cv::IMREAD_GRAYSCALE);
      } catch (const cv::Exception&) {
        mask.release();
      }
      if (mask.size() != frame.size())
        throw input_error("cannot write the videos again: " + mask_path + " is missing or damaged");
      outputs_.add_video_frame(frame, mask);
    }
  }

  void ready_outdir(cv::Size size) {
    prepare_output_dir(o_);
    outdir_ready_ = true;
    record_.frame_size = size;
    record_.input_frame_rate = input_->frame_rate();
    record_.implementation = model_->implementation();
    outputs_.open_videos(size, input_->frame_rate());
  }

  // Every frame of the range, the median's first; returns the exit code.
  // The frames after the median's are read and prepared ahead on one
  // thread, and each frame's outputs are written on another, while the
  // model works.
  int segment_frames() {
    Progress progress(!o_.quiet, input_->total());
    const Clock::time_point started = Clock::now();
    int code = EXIT_DONE;
    OrderedWriter writer(WRITES_WAITING);
    writer_ = &writer;
    for (; !held_.empty() && model_->initialized() && stop_signal() == 0; held_.pop_front()) {
      const HeldFrame& h = held_.front();
      timed_apply([&] { model_->apply(h.frame, mask_); });
      frame_done(h.frame, h.number);
      progress.frame_done(h.number, position_);
    }
    if (held_.empty() && model_->initialized() && stop_signal() == 0) {
      FramePipeline reader(*input_, *model_, FRAMES_AHEAD);
      while (stop_signal() == 0) {
        FramePipeline::Frame f = reader.next();
        if (f.status == GRAB_MISSING) break;
        if (f.status == GRAB_UNUSABLE) {
          std::fprintf(stderr, "strellix: %s\n", f.error.c_str());
          code = EXIT_BAD_FRAME;
          break;
        }
        timed_apply([&] { model_->apply(f.prepared, mask_); });
        reader.give_back(std::move(f.prepared));
        frame_done(f.image, f.number);
        progress.frame_done(f.number, position_);
      }
    }
    writer.wait_until_done();
    writer_ = nullptr;
    progress.clear();
    // Over the frames this process did, reading and writing included.
    const double seconds = seconds_since(started);
    const long long done_here = position_ - std::max(0LL, record_.resumed_after);
    record_.frames_per_second = seconds > 0.0 ? static_cast<double>(done_here) / seconds : 0.0;
    return code;
  }

  template <class Apply>
  void timed_apply(Apply apply) {
    const Clock::time_point before = Clock::now();
    apply();
    record_.seconds_segmentation += seconds_since(before);
  }

  // The outputs of the frame just applied, handed to the writer with their
  // own copies of the pictures; a checkpoint waits for every output before
  // it, so that a resumed run finds them all.
  void frame_done(const cv::Mat& frame, long long number) {
    ++position_;
    if (o_.cold_start && position_ < o_.parameters.median_frames) mask_.setTo(0);
    if (position_ == 1) record_.first = number;
    record_.last = number;
    writer_->add([this, frame, number, mask = mask_.clone()] { outputs_.add_frame(number, frame, mask); });
    if (o_.background_every > 0 && position_ % o_.background_every == 0)
      writer_->add([this, number, model = model_->background()] { outputs_.write_rendering(number, model); });
    if (o_.checkpoint_every > 0 && position_ % o_.checkpoint_every == 0) {
      writer_->wait_until_done();
      if (!save_checkpoint(*model_, o_)) outputs_.note_failure();
    }
  }

  void fill_timings() {
    record_.frames_done = position_;
    record_.seconds_total = seconds_since(started_);
  }

  // Completes the outputs and run.json; a run stopped by a signal ends by it.
  int finish(int code) {
    const int signal = stop_signal();
    outputs_.finish_videos();
    if (code == EXIT_DONE && outputs_.failed()) code = EXIT_OUTPUT;
    record_.status = signal != 0 ? "interrupted" : code == EXIT_BAD_FRAME ? "failed" : "complete";
    record_.exit_code = signal != 0 ? 128 + signal : code;
    fill_timings();
    if (!write_run_record(o_, record_) && code == EXIT_DONE) code = EXIT_OUTPUT;
    if (signal == 0 && code != EXIT_BAD_FRAME && o_.checkpoint_every > 0) remove_checkpoint(o_);
    report(signal, code);
    if (signal != 0) end_by_signal(signal);
    return code;
  }

  void report(int signal, int code) {
    if (signal != 0) {
      std::fprintf(stderr, "strellix: stopped by signal %d after %lld frames; what was done is in %s%s\n",
                   signal, position_, o_.output_dir.c_str(),
                   o_.checkpoint_every > 0 ? " (continue with --resume)" : "");
      return;
    }
    if (code == EXIT_BAD_FRAME)
      std::fprintf(stderr, "strellix: the run stopped after frame %lld; the outputs before it are complete\n",
                   record_.last);
    if (o_.quiet || code != EXIT_DONE) return;
    std::printf("strellix: %lld frames (%lld-%lld) segmented in %.1f s; results in %s\n", position_,
                record_.first, record_.last, record_.seconds_total, o_.output_dir.c_str());
    std::fflush(stdout);
  }

  struct HeldFrame {
    cv::Mat frame;
    long long number = 0;
  };

  const SegmentOptions& o_;
  const Clock::time_point started_ = Clock::now();
  std::unique_ptr<InputSource> input_;
  std::unique_ptr<Subtractor> model_;
  RunOutputs outputs_;
  RunRecord record_;
  std::deque<HeldFrame> held_;
  OrderedWriter* writer_ = nullptr;  // while frames are segmented
  cv::Mat mask_;
  long long position_ = 0;
  bool outdir_ready_ = false;
};

}  // namespace

int run_segment(SegmentOptions& options) {
  check_segment_options(options);
  install_interrupt_handling();
  SegmentRun run(options);
  return run.execute();
}

}  // namespace strellix::cli
