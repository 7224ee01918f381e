#include "cli/frame_pipeline.h"

#include <utility>

namespace strellix::cli {

ReadAhead::ReadAhead(InputSource& input, const Subtractor& model, int depth)
    : input_(input), model_(model), depth_(depth > 0 ? static_cast<std::size_t>(depth) : 1) {
  worker_ = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void ReadAhead::run() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!ended_) {
    changed_.wait(hold, [&] { return stopping_ || ready_.size() < depth_; });
    if (stopping_) return;
    Frame frame;
    if (!spare_.empty()) {
      frame.prepared = std::move(spare_.front());
      spare_.pop_front();
    }
    hold.unlock();
    std::exception_ptr fault;
    try {
      FrameRead read = input_.read(frame.number);
      frame.status = read.status;
      frame.error = std::move(read.error);
      frame.image = std::move(read.frame);
      if (frame.status == GRAB_OK) model_.prepare(frame.image, frame.prepared);
    } catch (...) {
      fault = std::current_exception();
    }
    hold.lock();
    if (fault) {
      fault_ = fault;
      ended_ = true;
    } else {
      ended_ = frame.status != GRAB_OK;
      ready_.push_back(std::move(frame));
    }
    changed_.notify_all();
  }
}

ReadAhead::Frame ReadAhead::next() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return !ready_.empty() || ended_; });
  if (ready_.empty()) {
    if (fault_) std::rethrow_exception(fault_);
    return Frame();  // the end was handed out already
  }
  Frame frame = std::move(ready_.front());
  ready_.pop_front();
  changed_.notify_all();
  return frame;
}

void ReadAhead::give_back(PreparedFrame&& spare) {
  std::lock_guard<std::mutex> hold(lock_);
  spare_.push_back(std::move(spare));
}

}  // namespace strellix::cli
