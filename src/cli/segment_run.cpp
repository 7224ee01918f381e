#include "cli/segment_run.h"

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <atomic>
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
#include "cli/outdir_lock.h"
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
      lock_ = std::make_unique<OutdirLock>(o_);
      input_ = open_input(o_.location, o_.start, o_.end, o_.stream_timeout);
      record_.frames_expected = input_->total();
      if (o_.resume)
        resume_from_checkpoint();
      else
        start_afresh();
      return finish(segment_frames());
    } catch (const CommandFailure& failure) {
      // run.json tells how far a run that got going went, and why it
      // stopped.
      if (outdir_ready_) {
        record_.exit_code = failure.code();
        record_.status = "failed";
        record_.reason = outputs_.failed() ? outputs_.failure() : failure.what();
        write_record();
      }
      throw;
    }
  }

 private:
  // Reads the first frame, fixes the size, prepares OUTDIR and seeds the
  // model; the frames read for the median are kept for segmenting.
  void start_afresh() {
    long long number = 0;
    const FrameRead read = read_first_frame(number);
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

  FrameRead read_first_frame(long long& number) {
    FrameRead read = input_->read(number);
    if (read.status == GRAB_UNUSABLE) throw input_error(read.error);
    if (read.status != GRAB_OK) throw input_error(no_frame_message(o_.location, o_.stream_timeout));
    return read;
  }

  // The rest of the median's frames; false when a signal stopped the run.
  // An input shorter than --median-frames gives the median of what there is.
  bool read_median_frames() {
    while (static_cast<long long>(held_.size()) < o_.parameters.median_frames) {
      if (stop_signal() != 0) return false;
      HeldFrame h;
      FrameRead read = input_->read(h.number);
      if (read.status == GRAB_MISSING) {
        input_ended_ = true;
        break;
      }
      if (read.status == GRAB_UNUSABLE)
        throw input_error(read.error);  // as a frame of the median, like Strellixplus
      h.frame = std::move(read.frame);
      held_.push_back(h);
    }
    return true;
  }

  // Takes the model of the last checkpoint and goes on from the frame after
  // it; the videos are written again from the first frame. Nothing is
  // written before the checkpoint is known to be this run's.
  void resume_from_checkpoint() {
    check_run_description(o_, describe_run(o_, input_->first_number()));
    model_ = std::make_unique<Subtractor>(load_checkpoint(o_));
    long long number = 0;
    FrameRead first = read_first_frame(number);
    check_checkpoint_belongs(o_, *model_, first.frame.size(), input_->total());
    ready_outdir(first.frame.size());
    const long long done = model_->frames_applied();
    record_.resumed_after = done;
    position_ = done;
    written_position_ = done;
    if (done == 0) {
      held_.push_back({std::move(first.frame), number});
      return;
    }
    record_.first = input_->first_number();
    record_.last = input_->first_number() + done - 1;
    written_last_ = record_.last;
    if (outputs_.wants_videos()) {
      rewrite_videos(done, first.frame, number);
    } else if (!input_->skip(done - 1)) {  // the first is read already
      throw input_error(o_.location.text + " now has fewer frames than the checkpoint's " +
                        std::to_string(done));
    }
  }

  // The videos of the frames before the checkpoint, from the input and the
  // masks written then; `frame` is the first, read already.
  void rewrite_videos(long long count, cv::Mat frame, long long number) {
    for (long long k = 0; k < count; ++k) {
      if (k > 0) {
        FrameRead read = input_->read(number);
        if (read.status == GRAB_UNUSABLE) throw CommandFailure(EXIT_BAD_FRAME, read.error);
        if (read.status != GRAB_OK)
          throw input_error(o_.location.text + " now has fewer frames than the checkpoint's " +
                            std::to_string(count));
        frame = std::move(read.frame);
      }
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
    record_.mask_video_codec = outputs_.mask_video_codec();
    record_.overlay_codec = outputs_.overlay_codec();
  }

  // Neither a signal nor a failed write has stopped the run.
  bool going_on() const { return stop_signal() == 0 && !outputs_.failed(); }

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
    for (; !held_.empty() && model_->initialized() && going_on(); held_.pop_front()) {
      const HeldFrame& h = held_.front();
      timed_apply([&] { model_->apply(h.frame, mask_); });
      frame_done(h.frame, h.number);
      progress.frame_done(h.number, position_);
    }
    if (held_.empty() && model_->initialized() && !input_ended_ && going_on()) {
      progress.start_estimate(position_);
      FramePipeline reader(*input_, *model_, FRAMES_AHEAD);
      while (going_on()) {
        FramePipeline::Frame f = reader.next();
        if (f.status == GRAB_MISSING) {
          input_ended_ = true;
          break;
        }
        if (f.status == GRAB_UNUSABLE) {
          std::fprintf(stderr, "strellix: %s\n", f.error.c_str());
          record_.reason = f.error;
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
    const long long done_here = written_position_ - std::max(0LL, record_.resumed_after);
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
  // it, so that a resumed run finds them all, and is not written past a
  // frame whose outputs are missing.
  void frame_done(const cv::Mat& frame, long long number) {
    ++position_;
    if (o_.cold_start && position_ < o_.parameters.median_frames) mask_.setTo(0);
    if (position_ == 1) record_.first = number;
    writer_->add([this, frame, number, position = position_, mask = mask_.clone()] {
      if (!outputs_.add_frame(number, frame, mask)) return;
      written_last_ = number;
      written_position_ = position;
    });
    if (o_.background_every > 0 && position_ % o_.background_every == 0)
      writer_->add([this, number, model = model_->background()] { outputs_.write_rendering(number, model); });
    if (o_.checkpoint_every > 0 && position_ % o_.checkpoint_every == 0) {
      writer_->wait_until_done();
      if (outputs_.failed()) return;
      const std::string failure = save_checkpoint(*model_, o_);
      if (!failure.empty()) outputs_.note_failure(failure);
    }
  }

  // run.json as far as the run got: the frames whose outputs are all
  // written. The room the lock kept is given up first, so that it can be
  // written after the disk has filled up.
  bool write_record() {
    record_.frames_done = written_position_;
    if (written_position_ > 0) record_.last = written_last_;
    record_.seconds_total = seconds_since(started_);
    lock_->release_reserve();
    return write_run_record(o_, record_);
  }

  // Completes the outputs and run.json; a run stopped by a signal ends by
  // it. The checkpoint goes only with a run that is complete.
  int finish(int code) {
    const int signal = stop_signal();
    outputs_.finish_videos();
    const std::string ended_early = input_ended_ ? input_->ended_early() : std::string();
    if (outputs_.failed()) {
      code = EXIT_OUTPUT;
      record_.status = "failed";
      record_.reason = outputs_.failure();
    } else if (signal != 0) {
      record_.status = "interrupted";
    } else if (code == EXIT_BAD_FRAME) {
      record_.status = "failed";
    } else if (!ended_early.empty()) {
      code = EXIT_INCOMPLETE;
      record_.status = "incomplete";
      record_.reason = ended_early;
    } else {
      record_.status = "complete";
    }
    record_.exit_code = signal != 0 ? 128 + signal : code;
    if (!write_record() && code == EXIT_DONE) code = EXIT_OUTPUT;
    if (signal == 0 && code == EXIT_DONE && o_.checkpoint_every > 0) remove_checkpoint(o_);
    report(signal, code);
    if (signal != 0) {
      lock_->release();
      end_by_signal(signal);
    }
    return code;
  }

  void report(int signal, int code) {
    const bool checkpoint =
        o_.checkpoint_every > 0 && access(output_path(o_, CHECKPOINT_STATE_FILE).c_str(), F_OK) == 0;
    const std::string resume_hint = checkpoint ? " (continue with --resume)" : "";
    if (signal != 0) {
      std::fprintf(stderr, "strellix: stopped by signal %d after %lld frames; what was done is in %s%s\n",
                   signal, record_.frames_done, o_.output_dir.c_str(), resume_hint.c_str());
      return;
    }
    if (code == EXIT_OUTPUT && outputs_.failed()) {
      std::fprintf(stderr, "strellix: %s\n", outputs_.failure().c_str());
      std::fprintf(stderr, "strellix: the run stopped there: %s; the outputs of %s are complete%s\n",
                   done_text().c_str(), record_.frames_done > 0 ? "those frames" : "no frame",
                   checkpoint ? " (once there is room, continue with --resume)" : "");
      return;
    }
    if (code == EXIT_BAD_FRAME)
      std::fprintf(stderr, "strellix: the run stopped after frame %lld; the outputs before it are complete\n",
                   record_.last);
    if (code == EXIT_INCOMPLETE) std::fprintf(stderr, "strellix: %s\n", record_.reason.c_str());
    if (o_.quiet || (code != EXIT_DONE && code != EXIT_INCOMPLETE)) return;
    std::printf("strellix: %s in %.1f s%s%s; results in %s\n", done_text().c_str(), record_.seconds_total,
                resumed_text().c_str(), code == EXIT_INCOMPLETE ? ", incomplete: the input ended early" : "",
                o_.output_dir.c_str());
    std::fflush(stdout);
  }

  // ", resumed after frame 120" for a resumed run: the frames before it
  // were done by an earlier process.
  std::string resumed_text() const {
    if (record_.resumed_after < 0) return "";
    if (record_.resumed_after == 0) return ", resumed from its start";
    return ", resumed after frame " + std::to_string(record_.first + record_.resumed_after - 1);
  }

  // "300 frames (1-300) segmented", "73 of 150 frames (1-73) segmented".
  std::string done_text() const {
    std::string text = std::to_string(record_.frames_done);
    if (record_.frames_expected >= 0 && record_.frames_expected != record_.frames_done)
      text += " of " + std::to_string(record_.frames_expected);
    text += " frames";
    if (record_.frames_done > 0)
      text += " (" + std::to_string(record_.first) + "-" + std::to_string(record_.last) + ")";
    return text + " segmented";
  }

  struct HeldFrame {
    cv::Mat frame;
    long long number = 0;
  };

  const SegmentOptions& o_;
  const Clock::time_point started_ = Clock::now();
  std::unique_ptr<OutdirLock> lock_;
  std::unique_ptr<InputSource> input_;
  std::unique_ptr<Subtractor> model_;
  RunOutputs outputs_;
  RunRecord record_;
  std::deque<HeldFrame> held_;
  OrderedWriter* writer_ = nullptr;  // while frames are segmented
  cv::Mat mask_;
  long long position_ = 0;  // frames applied
  // The frames whose outputs are written, as the writer's thread sets them.
  std::atomic<long long> written_position_{0}, written_last_{0};
  bool outdir_ready_ = false;
  bool input_ended_ = false;  // the input said it has no more frames
};

}  // namespace

int run_segment(SegmentOptions& options) {
  check_segment_options(options);
  install_interrupt_handling();
  SegmentRun run(options);
  return run.execute();
}

}  // namespace strellix::cli
