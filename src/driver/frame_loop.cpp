#include "driver/frame_loop.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "driver/console.h"
#include "driver/display.h"
#include "driver/frame_outputs.h"
#include "driver/frame_prefetch.h"
#include "driver/output_writer.h"
#include "io/frame_source.h"

namespace strellix {

bool overlap_frame_io = true;

namespace {

enum StretchEnd {
  STRETCH_DONE,            // range done, or a frame missing: the run goes on
  STRETCH_ESCAPE,          // ESC in the input window
  STRETCH_UNUSABLE_FRAME,  // a frame exists but cannot be used
};

constexpr int ESC_KEY = 27;

// The helper threads of the loop; both null when everything runs in line.
struct LoopIo {
  FramePrefetch* prefetch = nullptr;
  OutputWriter* writer = nullptr;
};

// Offset of the frame the loop reads after the frame at offset t came back
// (t = 0: the first of the loop), or -1 when the range ends there.
long long next_offset(const RunSettings& s, long long t) {
  const long long last_t = range_size(s) - 1;
  if (t + 1 < s.n && t + 1 <= last_t) return t + 1;  // the calibration stretch goes on
  const long long next = t < s.n ? s.n : t + 1;
  return next <= last_t ? next : -1;
}

// Asks for the frames after offset t, as many as the read-ahead holds.
void ask_ahead(const RunState& run, const LoopIo& io, long long t) {
  const int depth = prefetch_depth(run.settings.video, run.W, run.H);
  for (int i = 0; i < depth; ++i) {
    t = next_offset(run.settings, t);
    if (t < 0) return;
    request_frame(*io.prefetch, frame_number(run.settings, t));
  }
}

// Lets every queued output reach the disk, so that what is printed next
// follows its messages, as it would if they had been written in line.
void settle_outputs(const LoopIo& io) {
  if (io.writer != nullptr) wait_until_written(*io.writer);
}

// Frame k = ini + t of the input, as grab_frame gives it, converted on the
// reading thread where it was read ahead.
LoadedFrame grab_loop_frame(RunState& run, const LoopIo& io, long long t) {
  const long long k = frame_number(run.settings, t);
  if (io.prefetch == nullptr) {
    const std::string name = frame_file_name(run.names.prefix, k);
    FrameRead read = grab_frame(run.settings.video, &run.capture, 1, name, run.W, run.H);
    if (!read.error.empty()) print_standard_error(program_note(read.error));
    LoadedFrame got;
    got.image = std::move(read.frame);
    got.status = read.status;
    return got;
  }
  LoadedFrame got = take_frame(*io.prefetch, k);
  if (!got.complaint.empty()) {
    settle_outputs(io);
    print_standard_error(got.complaint);
  }
  // This frame will be processed, so the loop surely reads the next one,
  // and the ones after it unless one of them fails.
  if (!got.image.empty()) ask_ahead(run, io, t);
  return got;
}

// Frame ini + t, applied to the model (the frame's own stage: calibration
// or online); the status tells why no frame came back.
cv::Mat apply_loop_frame(RunState& run, const LoopIo& io, long long t, GrabStatus& status) {
  LoadedFrame got = grab_loop_frame(run, io, t);
  status = got.status;
  if (got.image.empty()) return got.image;
  if (!got.model.empty()) {
    // Converted on the reading thread: the planes change places with the
    // model's, and the model's go back for another frame.
    run.engine->apply(got.model);
    give_back(*io.prefetch, std::move(got.model));
  } else {
    run.engine->apply(got.image);
  }
  return got.image;
}

// Shows a video frame in the input window and returns the key, or -1.
int show_input_frame(RunState& run, const cv::Mat& frame) {
  show_in_window(run.names.base, frame);
  return wait_window_key(display_delay_ms);
}

StretchEnd run_calibration_stretch(RunState& run, const LoopIo& io) {
  const RunSettings& s = run.settings;
  const long long last = std::min<long long>(s.n, range_size(s));
  for (long long t = 1; t < last; ++t) {
    const long long k = frame_number(s, t);
    console_print(" %lld ", k);
    GrabStatus status;
    cv::Mat frame = apply_loop_frame(run, io, t, status);
    if (frame.empty()) {
      if (status == GRAB_UNUSABLE) return STRETCH_UNUSABLE_FRAME;
      settle_outputs(io);
      console_print("ATTENTION: Cannot grab file %s", frame_file_name(run.names.prefix, k).c_str());
      // The online stretch still starts at frame ini + n, learning at the
      // rate of the last frame calibrated.
      run.engine->end_calibration();
      return STRETCH_DONE;
    }
    if (s.video) show_input_frame(run, frame);  // keys are ignored while calibrating
    frame.release();
    write_frame_outputs(run, run.engine->labels(), k, io.writer);
  }
  return STRETCH_DONE;
}

StretchEnd run_online_stretch(RunState& run, const LoopIo& io) {
  const RunSettings& s = run.settings;
  const long long last_t = static_cast<long long>(s.end) - s.ini;
  for (long long t = s.n; t <= last_t; ++t) {
    const long long k = frame_number(s, t);
    console_print(" %lld ", k);
    GrabStatus status;
    cv::Mat frame = apply_loop_frame(run, io, t, status);
    if (frame.empty()) return status == GRAB_UNUSABLE ? STRETCH_UNUSABLE_FRAME : STRETCH_DONE;
    if (s.video) {
      const int key = show_input_frame(run, frame);
      if (key >= 0 && (key & 0xFF) == ESC_KEY) return STRETCH_ESCAPE;
    }
    frame.release();
    write_frame_outputs(run, run.engine->labels(), k, io.writer);
  }
  return STRETCH_DONE;
}

int run_stretches(RunState& run, const LoopIo& io) {
  if (run_calibration_stretch(run, io) == STRETCH_UNUSABLE_FRAME) return 5;
  if (run_online_stretch(run, io) == STRETCH_UNUSABLE_FRAME) return 5;
  return 0;
}

// Stops both threads however the loop is left.
struct LoopThreads {
  FramePrefetch prefetch;
  OutputWriter writer;
  LoopThreads() = default;
  LoopThreads(const LoopThreads&) = delete;
  LoopThreads& operator=(const LoopThreads&) = delete;
  ~LoopThreads() {
    stop_frame_prefetch(prefetch);
    stop_output_writer(writer);
  }
};

bool start_loop_threads(LoopThreads& threads, RunState& run) {
  try {
    start_frame_prefetch(threads.prefetch, run, true);
    start_output_writer(threads.writer);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace

int run_frame_loop(RunState& run) {
  if (!overlap_frame_io) return run_stretches(run, LoopIo{});
  LoopThreads threads;
  // Without threads the loop does the same work in line.
  if (!start_loop_threads(threads, run)) {
    stop_frame_prefetch(threads.prefetch);
    stop_output_writer(threads.writer);
    return run_stretches(run, LoopIo{});
  }
  const LoopIo io{&threads.prefetch, &threads.writer};
  ask_ahead(run, io, 0);
  const int code = run_stretches(run, io);
  stop_frame_prefetch(threads.prefetch);
  if (stop_output_writer(threads.writer)) run.output_failed = true;
  rethrow_writer_fault(threads.writer);
  return code;
}

}  // namespace strellix
