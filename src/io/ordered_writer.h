// Work that must happen in order but need not hold up the caller (writing
// each frame's outputs while the next frame is processed) runs on a thread
// of its own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace strellix {

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
  // Throws here what a task threw, if one did and it was not thrown yet.
  void rethrow_fault();
  // Runs what is still waiting, then ends the thread; nothing may be added
  // after. A second call, and the destructor after it, do nothing more.
  void finish();

 private:
  void run();
  void rethrow_locked();

  const std::size_t depth_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  std::exception_ptr fault_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace strellix
