#include "io/ordered_writer.h"

#include <utility>

namespace strellix {

OrderedWriter::OrderedWriter(int depth) : depth_(depth > 0 ? static_cast<std::size_t>(depth) : 1) {
  worker_ = std::thread([this] { run(); });
}

OrderedWriter::~OrderedWriter() {
  finish();
}

void OrderedWriter::finish() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
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
    task = nullptr;  // what it holds is let go of outside the lock
    hold.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

void OrderedWriter::rethrow_locked() {
  if (!fault_) return;
  std::exception_ptr fault = fault_;
  fault_ = nullptr;
  std::rethrow_exception(fault);
}

void OrderedWriter::add(std::function<void()> task) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return tasks_.size() < depth_; });
  rethrow_locked();
  tasks_.push_back(std::move(task));
  changed_.notify_all();
}

void OrderedWriter::wait_until_done() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return tasks_.empty() && !busy_; });
  rethrow_locked();
}

void OrderedWriter::rethrow_fault() {
  std::lock_guard<std::mutex> hold(lock_);
  rethrow_locked();
}

}  // namespace strellix
