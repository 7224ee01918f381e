#include "cli/frame_pipeline.h"

#include <utility>

namespace strellix::cli {

FramePipeline::FramePipeline(InputSource& input, const Subtractor& model, int depth)
    : input_(input),
      model_(model),
      depth_(depth > 0 ? depth : 1),
      reads_([this](long long) { return read_next(); }) {
  for (long long k = 0; k < depth_; ++k) reads_.ask(k);
}

// The input's next frame, prepared; once a read has failed or found the
// end, nothing more is read from the input.
FramePipeline::Frame FramePipeline::read_next() {
  Frame frame;
  if (ended_) return frame;
  ended_ = true;  // until this frame is read and prepared
  FrameRead read = input_.read(frame.number);
  frame.status = read.status;
  frame.error = std::move(read.error);
  frame.image = std::move(read.frame);
  if (frame.status != GRAB_OK) return frame;
  spare_.take(frame.prepared);
  model_.prepare(frame.image, frame.prepared);
  ended_ = false;
  return frame;
}

FramePipeline::Frame FramePipeline::next() {
  Frame frame = reads_.take(taken_++);
  if (frame.status == GRAB_OK) reads_.ask(taken_ + depth_ - 1);
  return frame;
}

void FramePipeline::give_back(PreparedFrame&& spare) {
  spare_.give_back(std::move(spare));
}

}  // namespace strellix::cli
