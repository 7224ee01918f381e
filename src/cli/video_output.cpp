#include "cli/video_output.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <opencv2/videoio/registry.hpp>

#include "cli/interrupt.h"

namespace strellix::cli {

namespace {

std::string lower_extension(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return "";
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// 0 for a container we do not write.
int codec_for(const std::string& name) {
  const std::string extension = lower_extension(name);
  if (extension == "mkv") return cv::VideoWriter::fourcc('F', 'F', 'V', '1');
  if (extension == "mp4" || extension == "m4v" || extension == "mov")
    return cv::VideoWriter::fourcc('m', 'p', '4', 'v');
  if (extension == "avi") return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
  return 0;
}

// The temporary name keeps the extension, from which the video library
// picks the container.
std::string temporary_video_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + ".tmp." + std::to_string(static_cast<long>(getpid())) + "." + name;
}

}  // namespace

bool video_container_supported(const std::string& name) {
  return codec_for(name) != 0;
}

VideoOutput::~VideoOutput() {
  discard();
}

bool VideoOutput::open(const std::string& path, cv::Size size, double frames_per_second, bool colour) {
  discard();
  path_ = path;
  temporary_ = temporary_video_name(path);
  slot_ = remember_temporary(temporary_);
  bool opened = false;
  try {
    const int api = cv::videoio_registry::hasBackend(cv::CAP_FFMPEG) ? cv::CAP_FFMPEG : cv::CAP_ANY;
    opened = writer_.open(temporary_, api, codec_for(path), frames_per_second, size, colour);
  } catch (const cv::Exception&) {
    opened = false;
  }
  if (!opened) discard();
  return opened;
}

void VideoOutput::write(const cv::Mat& image) {
  if (writer_.isOpened()) writer_.write(image);
}

bool VideoOutput::finish() {
  if (!writer_.isOpened()) return false;
  writer_.release();
  const bool renamed = std::rename(temporary_.c_str(), path_.c_str()) == 0;
  if (!renamed) unlink(temporary_.c_str());
  forget_temporary(slot_);
  slot_ = -1;
  temporary_.clear();
  return renamed;
}

void VideoOutput::discard() {
  if (writer_.isOpened()) writer_.release();
  if (!temporary_.empty()) unlink(temporary_.c_str());
  forget_temporary(slot_);
  slot_ = -1;
  temporary_.clear();
}

}  // namespace strellix::cli
