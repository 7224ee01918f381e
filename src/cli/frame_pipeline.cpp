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
      frame.status = input_.read(frame.image, frame.number);
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

OrderedWriter::OrderedWriter(int depth) : depth_(depth > 0 ? static_cast<std::size_t>(depth) : 1) {
  worker_ = std::thread([this] { run(); });
}

OrderedWriter::~OrderedWriter() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void OrderedWriter::run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [&] { return !tasks_.empty() || stopping_; });
    if (tasks_.empty()) return;  // stopping, with nothing left to do
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ = true;
    hold.unlock();
    try {
      task();
    } catch (...) {
      hold.lock();
      if (!fault_) fault_ = std::current_exception();
      hold.unlock();
    }
    hold.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

void OrderedWriter::rethrow() {
  if (!fault_) return;
  std::exception_ptr fault = fault_;
  fault_ = nullptr;
  std::rethrow_exception(fault);
}

void OrderedWriter::add(std::function<void()> task) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return tasks_.size() < depth_; });
  rethrow();
  tasks_.push_back(std::move(task));
  changed_.notify_all();
}

void OrderedWriter::wait_until_done() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return tasks_.empty() && !busy_; });
  rethrow();
}

}  // namespace strellix::cli
