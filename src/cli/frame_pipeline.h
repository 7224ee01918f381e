// The segment run's reading thread: it reads the next frames and brings
// them into the model's colour space while the model works on the current
// frame (io/read_ahead.h). Outputs are written in order on an
// OrderedWriter (io/ordered_writer.h).
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "cli/input_source.h"
#include "io/read_ahead.h"
#include "strellix/strellix.hpp"

namespace strellix::cli {

// Frames read ahead, in order, up to `depth` of them waiting.
class FramePipeline {
 public:
  struct Frame {
    GrabStatus status = GRAB_MISSING;
    std::string error;  // what is wrong with an unusable frame
    cv::Mat image;
    long long number = 0;
    PreparedFrame prepared;  // ready when status is GRAB_OK
  };

  FramePipeline(InputSource& input, const Subtractor& model, int depth);

  // The next frame; after GRAB_MISSING or GRAB_UNUSABLE nothing more is
  // read. Rethrows what reading or preparing it threw.
  Frame next();
  // A prepared frame applied and done with: its buffers serve again.
  void give_back(PreparedFrame&& spare);

 private:
  Frame read_next();

  InputSource& input_;
  const Subtractor& model_;
  const long long depth_;
  long long taken_ = 0;
  bool ended_ = false;  // read on the reading thread only
  Spares<PreparedFrame> spare_;
  ReadAhead<Frame> reads_;  // last: its thread starts once the rest is made
};

}  // namespace strellix::cli
