#include "driver/output_writer.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "io/atomic_file.h"

namespace strellix {

void start_output_writer(OutputWriter& writer) {
  writer.tasks = std::make_unique<OrderedWriter>(static_cast<int>(writer.capacity));
}

void queue_image(OutputWriter& writer, std::string path, cv::Mat image) {
  writer.tasks->add([&writer, path = std::move(path), image = std::move(image)] {
    if (save_image_atomic(path, image)) return;
    print_standard_error(unwritten_note(path));
    writer.failed = true;
  });
}

void wait_until_written(OutputWriter& writer) {
  writer.tasks->wait_until_done();
}

bool stop_output_writer(OutputWriter& writer) {
  if (writer.tasks) writer.tasks->finish();
  return writer.failed;
}

void rethrow_writer_fault(OutputWriter& writer) {
  if (writer.tasks) writer.tasks->rethrow_fault();
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

std::string program_note(const std::string& message) {
  return "Strellixplus: " + message + "\n";
}

std::string unwritten_note(const std::string& path) {
  return program_note("cannot write " + path);
}

}  // namespace strellix
