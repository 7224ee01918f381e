// The loop's next frames, read and decoded on a worker thread while the loop
// processes the current one.
//
// From a video only the frame the loop is certain to read next is asked
// for, so the frames consumed are those of a loop that reads in line (apart
// from at most one after the loop has stopped). From numbered files a few
// frames are read ahead, so that decoding can use whatever time the
// computation leaves on either core; a file read ahead that the loop never
// takes is dropped with its messages, as if it had not been read.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <functional>
#include <memory>
#include <string>

#include "driver/run_state.h"
#include "io/frame_source.h"
#include "io/read_ahead.h"

namespace strellix {

struct LoadedFrame {
  cv::Mat image;  // empty when no frame came back
  GrabStatus status = GRAB_MISSING;
  // What the read wrote on standard error; the loop prints it when it takes
  // the frame, where a read in line would have printed it.
  std::string complaint;
  // The image in the model space where it was converted on the worker;
  // empty otherwise. Only pixels inside the search area are written, the
  // others stay 0.
  FramePlanes model;
};

struct FramePrefetch {
  // What the worker reads with, fixed while it runs.
  int video = 0;
  cv::VideoCapture* capture = nullptr;
  std::string prefix;
  int W = 0;
  int H = 0;
  int capture_fd = -1;             // standard error of a read goes here
  const Engine* engine = nullptr;  // converts frames to the model space, when set

  std::unique_ptr<ReadAhead<LoadedFrame>> reads;  // frames by number
  Spares<FramePlanes> spare;                      // model-space planes given back
};

// How many frames the loop keeps asked for: one for a video, up to four
// numbered files for frames of the given size (fewer for large frames).
int prefetch_depth(int video, int W, int H);

// Starts the worker for the run's input (after the model has been seeded).
// With `convert`, every frame read is also converted to the model space on
// the worker by the run's engine (see LoadedFrame::model). Throws std::system_error
// when no thread or no capture file for standard error can be made.
void start_frame_prefetch(FramePrefetch& prefetch, RunState& run, bool convert = false);

// Returns planes of W * H floats, holding 0 outside the search area, to be
// reused for another frame.
void give_back(FramePrefetch& prefetch, FramePlanes&& model);

// Asks for frame k ("%s%d.png" from the prefix, or the video's next frame)
// after those already asked for; nothing changes if it is among them.
void request_frame(FramePrefetch& prefetch, long long k);

// Frame k, as grab_frame gives it for the run's size. Frames asked for
// before it are dropped. When it was not asked for, every frame asked for
// is dropped and frame k is read now.
LoadedFrame take_frame(FramePrefetch& prefetch, long long k);

// Ends the worker, dropping a frame read ahead. Never throws; safe on a
// prefetch that was never started or is already stopped.
void stop_frame_prefetch(FramePrefetch& prefetch);

// Runs `read` with standard error pointed at capture_fd, holding the
// standard error gate (output_writer.h), and returns what was written
// meanwhile. With capture_fd < 0, or when standard error cannot be moved,
// the text goes straight out, still inside the gate.
std::string with_captured_standard_error(int capture_fd, const std::function<void()>& read);

// An anonymous in-memory file for with_captured_standard_error, or -1.
int open_capture_file();

}  // namespace strellix
