#include "cli/video_output.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <opencv2/videoio/registry.hpp>
#include <vector>

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

struct Codec {
  int fourcc;
  const char* name;
};

// The codecs for a container, the preferred first: players expect H.264 in
// an mp4, but not every build of the video library has its encoder, and
// MPEG-4 part 2 is always there. None for a container we do not write.
std::vector<Codec> codecs_for(const std::string& name) {
  const std::string extension = lower_extension(name);
  if (extension == "mkv") return {{cv::VideoWriter::fourcc('F', 'F', 'V', '1'), "ffv1"}};
  if (extension == "mp4" || extension == "m4v" || extension == "mov")
    return {{cv::VideoWriter::fourcc('a', 'v', 'c', '1'), "h264"},
            {cv::VideoWriter::fourcc('m', 'p', '4', 'v'), "mpeg4"}};
  if (extension == "avi") return {{cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), "mjpeg"}};
  return {};
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
  return !codecs_for(name).empty();
}

VideoOutput::~VideoOutput() {
  discard();
}

bool VideoOutput::open(const std::string& path, cv::Size size, double frames_per_second, bool colour) {
  discard();
  codec_.clear();
  path_ = path;
  temporary_ = temporary_video_name(path);
  slot_ = remember_temporary(temporary_);
  const int api = cv::videoio_registry::hasBackend(cv::CAP_FFMPEG) ? cv::CAP_FFMPEG : cv::CAP_ANY;
  for (const Codec& codec : codecs_for(path)) {
    bool opened = false;
    try {
      opened = writer_.open(temporary_, api, codec.fourcc, frames_per_second, size, colour);
    } catch (const cv::Exception&) {
      opened = false;
    }
    if (opened) {
      codec_ = codec.name;
      return true;
    }
    unlink(temporary_.c_str());  // what a refused encoder may have begun
  }
  discard();
  return false;
}

void VideoOutput::write(const cv::Mat& image) {
  if (writer_.isOpened()) writer_.write(image);
}

bool VideoOutput::finish() {
  if (!writer_.isOpened()) return false;
  writer_.release();
  const bool renamed = std::rename(temporary_.c_str(), path_.c_str()) == 0;
  const int error = errno;
  if (!renamed) unlink(temporary_.c_str());
  errno = error;
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
