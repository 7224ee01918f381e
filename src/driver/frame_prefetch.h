// The loop's next frame, read and decoded on a worker thread while the loop
// processes the current one.
//
// Only frames the loop is certain to read next are asked for, so the files
// read and the video frames consumed are those of a loop that reads in line
// (apart from at most one video frame after the loop has stopped).
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "driver/run_state.h"
#include "io/frame_source.h"

struct LoadedFrame {
  cv::Mat image;  // empty when no frame came back
  GrabStatus status = GRAB_MISSING;
  // What the read wrote on standard error; the loop prints it when it takes
  // the frame, where a read in line would have printed it.
  std::string complaint;
};

struct FramePrefetch {
  // What the worker reads with, fixed while it runs.
  int video = 0;
  cv::VideoCapture* capture = nullptr;
  std::string prefix;
  int W = 0;
  int H = 0;
  int capture_fd = -1;  // standard error of a read goes here

  std::thread worker;
  std::mutex lock;
  std::condition_variable changed;
  bool requested = false;  // frame `wanted` is asked for, under way or ready
  bool ready = false;      // `loaded` is frame `wanted`
  bool stopping = false;
  long long wanted = 0;
  LoadedFrame loaded;
  std::exception_ptr fault;  // thrown by a read, handed to the loop
};

// Starts the worker for the run's input (after the first frame has given
// W and H). Throws std::system_error when no thread or no capture file for
// standard error can be made.
void start_frame_prefetch(FramePrefetch& prefetch, RunState& run);

// Asks for frame k ("%s%d.png" from the prefix, or the video's next frame),
// in place of any other frame asked for.
void request_frame(FramePrefetch& prefetch, long long k);

// Frame k, as grab_frame gives it for the run's size; read now if it was
// not asked for.
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
