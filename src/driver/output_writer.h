// Mask files written on a thread of their own, so that encoding and writing
// one frame's mask overlaps the processing of the next frame.
#pragma once

#include <opencv2/core.hpp>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "io/ordered_writer.h"

namespace strellix {

// Masks are written in the order they were queued, one at a time, so files
// appear in the same order as when written in line.
struct OutputWriter {
  std::size_t capacity = 1;  // masks waiting while another is written
  std::unique_ptr<OrderedWriter> tasks;
  std::atomic<bool> failed{false};  // some file could not be written
};

// Starts the thread. Throws std::system_error when no thread can be made.
void start_output_writer(OutputWriter& writer);

// Queues an atomic save of `image` (owned by the job from now on) under
// `path`; waits while the queue is full. A failed save is named on standard
// error when it happens.
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

// "Strellixplus: MESSAGE" and a line feed: how the program's messages on
// standard error begin and end.
std::string program_note(const std::string& message);

// "Strellixplus: cannot write PATH", the note for an output file that could
// not be written.
std::string unwritten_note(const std::string& path);

}  // namespace strellix
