#include "io/frame_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <vector>

namespace {

cv::Mat refuse(GrabStatus why, GrabStatus* status) {
  if (status != nullptr) *status = why;
  return cv::Mat();
}

// The whole file in memory. Reading it ourselves tells a missing file from
// an unreadable one, which the decoder alone cannot.
GrabStatus read_whole_file(const std::string& path, std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return GRAB_MISSING;
    const int error = errno;
    std::fprintf(stderr, "Strellixplus: cannot read image file %s: %s\n", path.c_str(),
                 std::strerror(error));
    return GRAB_UNUSABLE;
  }
  unsigned char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    std::fprintf(stderr, "Strellixplus: cannot read image file %s: %s\n", path.c_str(),
                 std::strerror(error));
    return GRAB_UNUSABLE;
  }
  return GRAB_OK;
}

// Video backends may deliver grey, 16-bit or four-channel frames; the rest
// of the program works on three 8-bit channels only.
cv::Mat to_three_byte_channels(const cv::Mat& frame) {
  cv::Mat bytes = frame;
  if (frame.depth() == CV_16U)
    frame.convertTo(bytes, CV_8U, 1.0 / 256.0);
  else if (frame.depth() != CV_8U)
    return cv::Mat();
  if (bytes.channels() == 3) return bytes;
  cv::Mat colour;
  if (bytes.channels() == 1)
    cv::cvtColor(bytes, colour, cv::COLOR_GRAY2BGR);
  else if (bytes.channels() == 4)
    cv::cvtColor(bytes, colour, cv::COLOR_BGRA2BGR);
  return colour;
}

// The PNG decoder prints its own complaint about a damaged file, which names
// no file; ours does, so the decoder's standard error is muted while it
// runs. The program is single-threaded, so nothing else is lost.
struct MutedStandardError {
  int saved = -1;
  MutedStandardError() {
    std::fflush(stderr);
    const int null_device = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_device < 0) return;
    saved = dup(STDERR_FILENO);
    if (saved >= 0) dup2(null_device, STDERR_FILENO);
    close(null_device);
  }
  ~MutedStandardError() {
    if (saved < 0) return;
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
  }
  MutedStandardError(const MutedStandardError&) = delete;
  MutedStandardError& operator=(const MutedStandardError&) = delete;
};

bool size_is_wrong(const cv::Mat& frame, int want_width, int want_height) {
  return want_width > 0 && want_height > 0 &&
         (frame.cols != want_width || frame.rows != want_height);
}

void report_wrong_size(const std::string& name, const cv::Mat& frame, int want_width,
                       int want_height) {
  std::fprintf(stderr, "Strellixplus: %s is %dx%d pixels, expected %dx%d\n", name.c_str(),
               frame.cols, frame.rows, want_width, want_height);
}

cv::Mat grab_file(const std::string& path, int want_width, int want_height, GrabStatus* status) {
  std::vector<unsigned char> bytes;
  const GrabStatus read = read_whole_file(path, bytes);
  if (read != GRAB_OK) return refuse(read, status);
  cv::Mat frame;
  try {
    MutedStandardError muted;
    if (!bytes.empty())
      frame = cv::imdecode(bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  } catch (const cv::Exception&) {
    frame = cv::Mat();
  }
  if (frame.empty() || frame.type() != CV_8UC3) {
    std::fprintf(stderr, "Strellixplus: cannot decode image file %s\n", path.c_str());
    return refuse(GRAB_UNUSABLE, status);
  }
  if (size_is_wrong(frame, want_width, want_height)) {
    report_wrong_size(path, frame, want_width, want_height);
    return refuse(GRAB_UNUSABLE, status);
  }
  if (status != nullptr) *status = GRAB_OK;
  return frame;
}

cv::Mat grab_video(cv::VideoCapture* capture, int count, const std::string& path, int want_width,
                   int want_height, GrabStatus* status) {
  if (capture == nullptr || count < 1) return refuse(GRAB_MISSING, status);
  cv::Mat frame;
  for (int k = 0; k < count; ++k)
    if (!capture->read(frame) || frame.empty()) return refuse(GRAB_MISSING, status);
  const std::string name = path.empty() ? std::string("the video frame") : path;
  cv::Mat colour = to_three_byte_channels(frame);
  if (colour.empty()) {
    std::fprintf(stderr, "Strellixplus: cannot decode image file %s\n", name.c_str());
    return refuse(GRAB_UNUSABLE, status);
  }
  if (size_is_wrong(colour, want_width, want_height)) {
    report_wrong_size(name, colour, want_width, want_height);
    return refuse(GRAB_UNUSABLE, status);
  }
  if (status != nullptr) *status = GRAB_OK;
  return colour;
}

}  // namespace

cv::Mat grab_frame(int video, cv::VideoCapture* capture, int count, const std::string& path,
                   int want_width, int want_height, GrabStatus* status) {
  if (video == 0) return grab_file(path, want_width, want_height, status);
  return grab_video(capture, count, path, want_width, want_height, status);
}
