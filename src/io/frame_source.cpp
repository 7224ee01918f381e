#include "io/frame_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>
#include <string>
#include <utility>
#include <vector>

#include "core/frame_input.h"
#include "io/standard_error_redirect.h"

namespace strellix {

namespace {

FrameRead refuse(GrabStatus why, std::string error = std::string()) {
  FrameRead read;
  read.status = why;
  read.error = std::move(error);
  return read;
}

FrameRead accept(cv::Mat frame) {
  FrameRead read;
  read.frame = std::move(frame);
  read.status = GRAB_OK;
  return read;
}

// Limits that keep a damaged or hostile file from costing more than any
// real frame could: no video frame comes near 2^27 pixels (16384x8192), and
// no PNG of such a frame near 1 GiB.
constexpr long long max_frame_pixels = 1LL << 27;
constexpr long long max_frame_file_bytes = 1LL << 30;

std::string unreadable(const std::string& path, const std::string& what) {
  return "cannot read image file " + path + ": " + what;
}

// The whole file in memory. Reading it ourselves tells a missing file from
// an unreadable one, which the decoder alone cannot. Only regular files are
// read: a FIFO would block the run and a device would never end.
GrabStatus read_whole_file(const std::string& path, std::vector<unsigned char>& bytes, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return GRAB_MISSING;
    error = unreadable(path, std::strerror(errno));
    return GRAB_UNUSABLE;
  }
  struct stat info;
  GrabStatus result = GRAB_OK;
  if (fstat(fd, &info) != 0) {
    error = unreadable(path, std::strerror(errno));
    result = GRAB_UNUSABLE;
  } else if (S_ISDIR(info.st_mode)) {
    error = unreadable(path, std::strerror(EISDIR));
    result = GRAB_UNUSABLE;
  } else if (!S_ISREG(info.st_mode)) {
    error = unreadable(path, "not a regular file");
    result = GRAB_UNUSABLE;
  } else if (info.st_size > max_frame_file_bytes) {
    error = unreadable(path, std::to_string(static_cast<long long>(info.st_size)) + " bytes, more than the " +
                                 std::to_string(max_frame_file_bytes) + " a frame may have");
    result = GRAB_UNUSABLE;
  }
  if (result == GRAB_OK) {
    // One byte beyond the size tells a file that grew meanwhile.
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = unreadable(path, std::strerror(errno));
        result = GRAB_UNUSABLE;
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (result == GRAB_OK && got > static_cast<std::size_t>(info.st_size)) {
      error = unreadable(path, "the file changed while it was read");
      result = GRAB_UNUSABLE;
    }
    bytes.resize(got);
  }
  close(fd);
  return result;
}

// Width and height from a PNG header, before anything is decoded; false
// when the bytes do not start like a PNG file.
bool png_header_size(const std::vector<unsigned char>& bytes, unsigned long& width, unsigned long& height) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (bytes.size() < 24 || std::memcmp(bytes.data(), signature, 8) != 0 ||
      std::memcmp(bytes.data() + 12, "IHDR", 4) != 0)
    return false;
  auto big_endian = [&](std::size_t at) {
    return (static_cast<unsigned long>(bytes[at]) << 24) | (static_cast<unsigned long>(bytes[at + 1]) << 16) |
           (static_cast<unsigned long>(bytes[at + 2]) << 8) | static_cast<unsigned long>(bytes[at + 3]);
  };
  width = big_endian(16);
  height = big_endian(20);
  return true;
}

// The PNG decoder prints its own complaint about a damaged file, which names
// no file; ours does, so the decoder's standard error is muted while it
// runs. Standard error is shared by the whole process: a caller that reads
// on a helper thread keeps the other threads off it meanwhile, so nothing
// else is lost.
struct MutedStandardError {
  int null_device = open("/dev/null", O_WRONLY | O_CLOEXEC);
  StandardErrorRedirect redirect{null_device};
  ~MutedStandardError() {
    if (null_device >= 0) close(null_device);
  }
};

// The message, naming the file and both sizes, when a frame of width x
// height is not the size the run wants (none wanted when want_width or
// want_height is 0); empty when it is.
std::string wrong_size(const std::string& name, long long width, long long height, int want_width,
                       int want_height) {
  if (want_width <= 0 || want_height <= 0 || (width == want_width && height == want_height)) return "";
  return name + " is " + std::to_string(width) + "x" + std::to_string(height) + " pixels, expected " +
         std::to_string(want_width) + "x" + std::to_string(want_height);
}

// The image library hands these signatures to a large geodata library,
// through a temporary file of its own; frames never come in them.
bool routed_to_geodata_library(const std::vector<unsigned char>& bytes) {
  auto has = [&](std::size_t at, const char* text) {
    const std::size_t length = std::strlen(text);
    return bytes.size() >= at + length && std::memcmp(bytes.data() + at, text, length) == 0;
  };
  return has(0, "NITF") || has(0, "NSIF") || has(140, "DTED");
}

// "DICM" at 128 sends the bytes to a medical-image decoder that ends the
// process with an assertion on some damaged files; frames never come in it.
bool routed_to_medical_decoder(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= 132 && std::memcmp(bytes.data() + 128, "DICM", 4) == 0;
}

std::string undecodable(const std::string& path, const char* what) {
  return "cannot decode image file " + path + ": " + what;
}

// A PNG header is judged before decoding, so that a damaged or hostile one
// never makes the decoder allocate for it; the message when it is refused.
// Other formats rely on the decoder's own size limit.
std::string png_header_refusal(const std::string& path, const std::vector<unsigned char>& bytes,
                               int want_width, int want_height) {
  unsigned long width = 0, height = 0;
  if (!png_header_size(bytes, width, height) || width == 0 || height == 0) return "";
  const double pixels = static_cast<double>(width) * static_cast<double>(height);
  if (pixels > static_cast<double>(max_frame_pixels)) {
    return path + " declares " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels, more than the " + std::to_string(max_frame_pixels) + " a frame may have";
  }
  return wrong_size(path, static_cast<long long>(width), static_cast<long long>(height), want_width,
                    want_height);
}

FrameRead grab_file(const std::string& path, int want_width, int want_height) {
  std::vector<unsigned char> bytes;
  std::string error;
  const GrabStatus read = read_whole_file(path, bytes, error);
  if (read != GRAB_OK) return refuse(read, error);
  if (bytes.empty()) return refuse(GRAB_UNUSABLE, undecodable(path, "the file is empty"));
  error = png_header_refusal(path, bytes, want_width, want_height);
  if (!error.empty()) return refuse(GRAB_UNUSABLE, error);
  if (routed_to_geodata_library(bytes))
    return refuse(GRAB_UNUSABLE, undecodable(path, "a geodata format, not accepted for frames"));
  if (routed_to_medical_decoder(bytes))
    return refuse(GRAB_UNUSABLE, undecodable(path, "a medical-image format, not accepted for frames"));
  cv::Mat frame;
  try {
    MutedStandardError muted;
    frame = cv::imdecode(bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  } catch (const cv::Exception&) {
    frame = cv::Mat();
  }
  if (frame.empty() || frame.type() != CV_8UC3)
    return refuse(GRAB_UNUSABLE, undecodable(path, "not an image, or damaged or truncated"));
  error = wrong_size(path, frame.cols, frame.rows, want_width, want_height);
  if (!error.empty()) return refuse(GRAB_UNUSABLE, error);
  return accept(frame);
}

FrameRead grab_video(cv::VideoCapture* capture, int count, const std::string& path, int want_width,
                     int want_height) {
  if (capture == nullptr || count < 1) return refuse(GRAB_MISSING);
  cv::Mat frame;
  for (int k = 0; k < count; ++k)
    if (!capture->read(frame) || frame.empty()) return refuse(GRAB_MISSING);
  const std::string name = path.empty() ? std::string("the video frame") : path;
  // Video backends may deliver grey, 16-bit or four-channel frames; the
  // model reads three 8-bit channels.
  cv::Mat colour = frame_as_bgr8(frame);
  if (colour.empty()) return refuse(GRAB_UNUSABLE, "cannot decode image file " + name);
  const std::string error = wrong_size(name, colour.cols, colour.rows, want_width, want_height);
  if (!error.empty()) return refuse(GRAB_UNUSABLE, error);
  return accept(colour);
}

}  // namespace

bool open_video(cv::VideoCapture& capture, const std::string& path, std::string& error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    error = "cannot open video file " + path + ": " + std::strerror(errno);
    return false;
  }
  // A FIFO or a device could block the run or never end.
  if (!S_ISREG(info.st_mode)) {
    error = "cannot open video file " + path + ": not a regular file";
    return false;
  }
  // A relative name starting with "word:" would be taken for a network
  // address by the video library, so it is anchored to the directory.
  const std::string local = path[0] == '/' ? path : "./" + path;
  bool opened = false;
  try {
    // The explicit backend keeps the other backends from trying a damaged
    // file in turn and filling standard error with their complaints.
    if (cv::videoio_registry::hasBackend(cv::CAP_FFMPEG))
      opened = capture.open(local, cv::CAP_FFMPEG);
    else
      opened = capture.open(local);
  } catch (const cv::Exception&) {
    opened = false;
  }
  if (!opened) {
    capture.release();
    error = "cannot open video file " + path + ": not a video this program can read";
  }
  return opened;
}

FrameRead grab_frame(int video, cv::VideoCapture* capture, int count, const std::string& path, int want_width,
                     int want_height) {
  if (video == 0) return grab_file(path, want_width, want_height);
  return grab_video(capture, count, path, want_width, want_height);
}

}  // namespace strellix
