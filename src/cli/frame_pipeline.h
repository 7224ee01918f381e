// The segment run's reading thread: it reads the next frames and brings
// them into the model's colour space while the model works on the current
// frame. (Outputs are written in order on an OrderedWriter, io/ordered_writer.h.)
#pragma once

#include <opencv2/core.hpp>

#include <condition_variable>
#include <deque>
#include <exception>
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
    std::string error;  // what is wrong with an unusable frame
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

}  // namespace strellix::cli
