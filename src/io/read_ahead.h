// Reads that run ahead of the code that needs them, on a thread of their
// own: the next frames are read and decoded (and brought to the model's
// space) while the current one is processed. Both programs read this way:
// Strellixplus asks for frames by number, strellix in sequence.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace strellix {

// The consumer asks for items by key, in the order it means to take them,
// and takes them in that order; the thread reads each asked-for item with
// `read(key)`, one at a time, in the order asked. An item asked for and
// never taken is dropped.
template <class Item>
class ReadAhead {
 public:
  using Reader = std::function<Item(long long key)>;

  // Starts the thread; throws std::system_error when none can be made.
  explicit ReadAhead(Reader read) : read_(std::move(read)) {
    worker_ = std::thread([this] { run(); });
  }
  ~ReadAhead() { stop(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Asks for the item of `key` after those asked for already; nothing
  // changes when it is among them.
  void ask(long long key) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!add_slot(key)) return;
    }
    changed_.notify_all();
  }

  // The item of `key`, once read. The items asked for before it are
  // dropped; when it was not asked for, every item asked for is dropped
  // and it is read now. Rethrows what its read threw.
  Item take(long long key) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!asked_for(key)) {
      slots_.clear();
      add_slot(key);
      changed_.notify_all();
    }
    while (slots_.front().key != key) slots_.pop_front();
    changed_.wait(hold, [&] { return slots_.front().ready; });
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    changed_.notify_all();
    hold.unlock();
    if (slot.fault) std::rethrow_exception(slot.fault);
    return std::move(slot.item);
  }

  // Ends the thread once the read under way is done, dropping everything
  // read ahead. Safe to call again.
  void stop() {
    if (!worker_.joinable()) return;
    {
      std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }

 private:
  // One item asked for: waiting to be read, under way, or read.
  struct Slot {
    long long key = 0;
    unsigned long long id = 0;  // tells a slot apart from a later one for the same key
    bool started = false;
    bool ready = false;
    Item item;
    std::exception_ptr fault;  // thrown by the read, handed to the consumer
  };

  bool asked_for(long long key) const {
    for (const Slot& slot : slots_)
      if (slot.key == key) return true;
    return false;
  }

  // Adds a slot for `key` unless it has one; true when added. The caller
  // holds the lock.
  bool add_slot(long long key) {
    if (asked_for(key)) return false;
    Slot slot;
    slot.key = key;
    slot.id = next_id_++;
    slots_.push_back(std::move(slot));
    return true;
  }

  Slot* slot_to_read() {
    for (Slot& slot : slots_)
      if (!slot.started) return &slot;
    return nullptr;
  }

  Slot* slot_with_id(unsigned long long id) {
    for (Slot& slot : slots_)
      if (slot.id == id) return &slot;
    return nullptr;
  }

  // The thread: reads the first slot nobody reads yet, without the lock;
  // a read no longer wanted when it ends is dropped.
  void run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      changed_.wait(hold, [&] { return stopping_ || slot_to_read() != nullptr; });
      if (stopping_) return;
      Slot* slot = slot_to_read();
      slot->started = true;
      const long long key = slot->key;
      const unsigned long long id = slot->id;
      hold.unlock();
      Item item{};
      std::exception_ptr fault;
      try {
        item = read_(key);
      } catch (...) {
        fault = std::current_exception();
      }
      hold.lock();
      slot = slot_with_id(id);
      if (slot == nullptr) continue;
      slot->item = std::move(item);
      slot->fault = fault;
      slot->ready = true;
      changed_.notify_all();
    }
  }

  Reader read_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Slot> slots_;  // in the order asked for
  unsigned long long next_id_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

// Buffers the consumer gives back once done with them, for later reads to
// fill instead of allocating their own.
template <class Buffer>
class Spares {
 public:
  void give_back(Buffer&& buffer) {
    std::lock_guard<std::mutex> hold(lock_);
    spare_.push_back(std::move(buffer));
  }
  // A buffer given back, if there is one.
  bool take(Buffer& into) {
    std::lock_guard<std::mutex> hold(lock_);
    if (spare_.empty()) return false;
    into = std::move(spare_.back());
    spare_.pop_back();
    return true;
  }

 private:
  std::mutex lock_;
  std::vector<Buffer> spare_;
};

}  // namespace strellix
