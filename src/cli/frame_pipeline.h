// The segment run's helper threads: one reads the next frames and brings
// them into the model's colour space while the model works on the current
// frame, the other writes each frame's outputs in order while the model
// works on the next.
#pragma once

#include <opencv2/core.hpp>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "cli/input_source.h"
#include "strellix/strellix.hpp"

namespace strellix::cli {

// Frames read ahead, in order, up to `depth` of them waiting.
class ReadAhead {
 public:
  struct Frame {
    GrabStatus status = GRAB_MISSING;
    cv::Mat image;
    long long number = 0;
    PreparedFrame prepared;  // ready when status is GRAB_OK
  };

  ReadAhead(InputSource& input, const Subtractor& model, int depth);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next frame; after GRAB_MISSING or GRAB_UNUSABLE nothing more is
  // read. Rethrows what reading or preparing it threw.
  Frame next();
  // A prepared frame applied and done with: its buffers serve again.
  void give_back(PreparedFrame&& spare);

 private:
  void run();

  InputSource& input_;
  const Subtractor& model_;
  const std::size_t depth_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Frame> ready_;
  std::deque<PreparedFrame> spare_;
  std::exception_ptr fault_;
  bool ended_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

// Tasks run one after another, in the order given, on a thread of their
// own; at most `depth` wait. What a task throws comes back from the next
// call.
class OrderedWriter {
 public:
  explicit OrderedWriter(int depth);
  ~OrderedWriter();
  OrderedWriter(const OrderedWriter&) = delete;
  OrderedWriter& operator=(const OrderedWriter&) = delete;

  void add(std::function<void()> task);
  // Returns once every task given so far is done.
  void wait_until_done();

 private:
  void run();
  void rethrow();

  const std::size_t depth_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  std::exception_ptr fault_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace strellix::cli
