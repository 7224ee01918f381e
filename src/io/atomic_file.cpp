#include "io/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <vector>

namespace {

// The signal handler may only look at plain static memory, so the path of
// the file in progress is kept here rather than in a std::string.
char in_progress_path[4096];
volatile std::sig_atomic_t in_progress_active = 0;

const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_in_progress_and_reraise(int signal_number) {
  if (in_progress_active) unlink(in_progress_path);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

std::string extension_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

bool write_all(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool write_bytes_atomic(const std::string& path, const std::vector<unsigned char>& bytes) {
  const std::string temporary = temporary_name_for(path);
  begin_temporary_file(temporary);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool ok = fd >= 0;
  if (ok) {
    ok = write_all(fd, bytes.data(), bytes.size());
    // close() can be the first to report a failed write on some file systems.
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(temporary.c_str());
  }
  end_temporary_file();
  return ok;
}

}  // namespace

std::string temporary_name_for(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + ".tmp." + std::to_string(static_cast<long>(getpid()));
}

bool save_image_atomic(const std::string& path, const cv::Mat& image) {
  const std::string extension = extension_of(path);
  if (extension.empty() || image.empty()) return false;
  std::vector<unsigned char> bytes;
  try {
    if (!cv::imencode(extension, image, bytes)) return false;
  } catch (const cv::Exception&) {
    return false;
  }
  return write_bytes_atomic(path, bytes);
}

void install_temporary_file_cleanup() {
  for (int signal_number : cleanup_signals) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0) continue;
    // A signal the user chose to ignore (nohup) must stay ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = remove_in_progress_and_reraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

void begin_temporary_file(const std::string& temporary_path) {
  in_progress_active = 0;
  // A path that does not fit is not registered: a truncated copy could name
  // some other file.
  if (temporary_path.size() >= sizeof in_progress_path) return;
  std::memcpy(in_progress_path, temporary_path.c_str(), temporary_path.size() + 1);
  in_progress_active = 1;
}

void end_temporary_file() { in_progress_active = 0; }
