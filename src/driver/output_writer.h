// Mask files written on a thread of their own, so that encoding and writing
// one frame's mask overlaps the processing of the next frame.
#pragma once

#include <opencv2/core.hpp>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace strellix {

struct ImageJob {
  std::string path;
  cv::Mat image;  // owned by the job: the caller's buffers move on meanwhile
};

// Jobs are written in the order they were queued, one at a time, so files
// appear in the same order as when written in line.
struct OutputWriter {
  std::thread worker;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<ImageJob> queue;
  std::size_t capacity = 1;  // masks waiting while another is written
  bool writing = false;      // a job has been taken off the queue and is not done
  bool stopping = false;
  bool failed = false;       // some file could not be written
  std::exception_ptr fault;  // thrown by a job, handed back to the loop
};

// Starts the thread. Throws std::system_error when no thread can be made.
void start_output_writer(OutputWriter& writer);

// Queues an atomic save of `image` under `path`; waits while the queue is
// full. A failed save is named on standard error when it happens.
void queue_image(OutputWriter& writer, std::string path, cv::Mat image);

// Returns once every queued job is on disk (or has failed).
void wait_until_written(OutputWriter& writer);

// Writes what is still queued, then ends the thread. Returns true when some
// file could not be written. Never throws; safe on a writer that was never
// started or is already stopped.
bool stop_output_writer(OutputWriter& writer);

// Throws, on the caller's thread, what a job threw, if anything.
void rethrow_writer_fault(OutputWriter& writer);

// Standard error is shared by the threads of the loop: a worker may point
// it elsewhere for a moment (see frame_prefetch.h), so every message of ours
// goes out while holding this gate.
std::mutex& standard_error_gate();
void print_standard_error(const std::string& text);

// "Strellixplus: cannot write PATH", the note for an output file that could
// not be written.
std::string unwritten_note(const std::string& path);

}  // namespace strellix
