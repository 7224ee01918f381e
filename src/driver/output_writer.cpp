#include "driver/output_writer.h"

#include <cstdio>
#include <utility>

#include "io/atomic_file.h"

namespace strellix {

namespace {

// Runs one job; any exception it throws goes back to the loop's thread,
// which would have met it writing in line.
void write_job(OutputWriter& writer, const ImageJob& job) {
  try {
    if (save_image_atomic(job.path, job.image)) return;
    print_standard_error(unwritten_note(job.path));
    std::lock_guard<std::mutex> hold(writer.lock);
    writer.failed = true;
  } catch (...) {
    std::lock_guard<std::mutex> hold(writer.lock);
    if (!writer.fault) writer.fault = std::current_exception();
  }
}

void writer_main(OutputWriter& writer) {
  std::unique_lock<std::mutex> hold(writer.lock);
  for (;;) {
    writer.changed.wait(hold, [&] { return !writer.queue.empty() || writer.stopping; });
    if (writer.queue.empty()) return;  // stopping, and nothing left
    ImageJob job = std::move(writer.queue.front());
    writer.queue.pop_front();
    writer.writing = true;
    hold.unlock();
    writer.changed.notify_all();  // room in the queue
    write_job(writer, job);
    job.image.release();
    hold.lock();
    writer.writing = false;
    writer.changed.notify_all();
  }
}

void rethrow_fault(std::unique_lock<std::mutex>& hold, OutputWriter& writer) {
  if (!writer.fault) return;
  std::exception_ptr fault = writer.fault;
  writer.fault = nullptr;
  hold.unlock();
  std::rethrow_exception(fault);
}

}  // namespace

void start_output_writer(OutputWriter& writer) {
  writer.worker = std::thread(writer_main, std::ref(writer));
}

void queue_image(OutputWriter& writer, std::string path, cv::Mat image) {
  std::unique_lock<std::mutex> hold(writer.lock);
  writer.changed.wait(hold, [&] { return writer.queue.size() < writer.capacity || writer.fault; });
  rethrow_fault(hold, writer);
  writer.queue.push_back(ImageJob{std::move(path), std::move(image)});
  hold.unlock();
  writer.changed.notify_all();
}

void wait_until_written(OutputWriter& writer) {
  std::unique_lock<std::mutex> hold(writer.lock);
  writer.changed.wait(hold, [&] { return (writer.queue.empty() && !writer.writing) || writer.fault; });
  rethrow_fault(hold, writer);
}

bool stop_output_writer(OutputWriter& writer) {
  if (writer.worker.joinable()) {
    {
      std::lock_guard<std::mutex> hold(writer.lock);
      writer.stopping = true;
    }
    writer.changed.notify_all();
    writer.worker.join();
  }
  return writer.failed;
}

void rethrow_writer_fault(OutputWriter& writer) {
  std::unique_lock<std::mutex> hold(writer.lock);
  rethrow_fault(hold, writer);
}

std::mutex& standard_error_gate() {
  static std::mutex gate;
  return gate;
}

void print_standard_error(const std::string& text) {
  std::lock_guard<std::mutex> hold(standard_error_gate());
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

std::string unwritten_note(const std::string& path) {
  return "Strellixplus: cannot write " + path + "\n";
}

}  // namespace strellix
