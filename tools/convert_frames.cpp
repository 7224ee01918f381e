// Puts the frames of a data sequence under the names the program reads.
//
//   convert_frames INPUT_DIR DEST_PREFIX [--input-prefix in]
//
// Every INPUT_DIR/in<digits>.jpg (or .jpeg) is decoded and written as
// DEST_PREFIX<number>.png, the number without leading zeros; .png frames
// are linked instead of copied. A destination that is already newer than
// its source is kept, so preparing a sequence a second time is quick.
// The last line on standard output is "frames FIRST LAST COUNT".

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct SourceFrame {
  long long number = 0;
  fs::path path;
  bool is_png = false;
};

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// "in000123.jpg" -> 123; false for anything that is not a numbered frame.
bool parse_frame_name(const std::string& name, const std::string& prefix, SourceFrame* frame) {
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot <= prefix.size()) return false;
  std::string digits = name.substr(prefix.size(), dot - prefix.size());
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  std::string extension = lower(name.substr(dot));
  if (extension != ".jpg" && extension != ".jpeg" && extension != ".png") return false;
  frame->number = std::stoll(digits);
  frame->is_png = extension == ".png";
  return true;
}

bool up_to_date(const fs::path& destination, const fs::path& source) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(destination, error))) {
    return fs::equivalent(destination, source, error) && !error;
  }
  if (!fs::exists(destination, error)) return false;
  auto dest_time = fs::last_write_time(destination, error);
  if (error) return false;
  auto source_time = fs::last_write_time(source, error);
  return !error && dest_time >= source_time;
}

bool link_frame(const fs::path& source, const fs::path& destination) {
  std::error_code error;
  fs::remove(destination, error);
  fs::create_symlink(fs::absolute(source), destination, error);
  return !error;
}

// Written under a temporary name and renamed, so that an interrupted run
// never leaves a truncated frame behind that a later run would keep.
bool convert_frame(const fs::path& source, const fs::path& destination) {
  cv::Mat image;
  try {
    image = cv::imread(source.string(), cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    return false;
  }
  if (image.empty()) return false;
  fs::path temporary = destination;
  temporary += ".part" + std::to_string(static_cast<long long>(getpid())) + ".png";
  bool written = false;
  try {
    written = cv::imwrite(temporary.string(), image);
  } catch (const cv::Exception&) {
    written = false;
  }
  std::error_code error;
  if (written) fs::rename(temporary, destination, error);
  if (!written || error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::string input_prefix = "in";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--input-prefix" && i + 1 < argc) {
      input_prefix = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      positional.clear();
      break;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) {
    std::fprintf(stderr, "usage: convert_frames INPUT_DIR DEST_PREFIX [--input-prefix in]\n");
    return 2;
  }
  const fs::path input_dir = positional[0];
  const std::string dest_prefix = positional[1];

  std::vector<SourceFrame> frames;
  std::error_code error;
  for (fs::directory_iterator it(input_dir, error), end; !error && it != end; it.increment(error)) {
    SourceFrame frame;
    if (parse_frame_name(it->path().filename().string(), input_prefix, &frame)) {
      frame.path = it->path();
      frames.push_back(frame);
    }
  }
  if (error) {
    std::fprintf(stderr, "convert_frames: cannot list %s: %s\n", input_dir.string().c_str(),
                 error.message().c_str());
    return 1;
  }
  if (frames.empty()) {
    std::fprintf(stderr, "convert_frames: no frames %s<number>.jpg or .png in %s\n", input_prefix.c_str(),
                 input_dir.string().c_str());
    return 1;
  }
  std::sort(frames.begin(), frames.end(),
            [](const SourceFrame& a, const SourceFrame& b) { return a.number < b.number; });
  for (size_t i = 1; i < frames.size(); ++i) {
    if (frames[i].number == frames[i - 1].number) {
      std::fprintf(stderr, "convert_frames: frame %lld is present twice in %s\n", frames[i].number,
                   input_dir.string().c_str());
      return 1;
    }
  }
  fs::path dest_dir = fs::path(dest_prefix).parent_path();
  if (!dest_dir.empty()) fs::create_directories(dest_dir, error);

  std::atomic<long long> failed_frame{-1};
  cv::parallel_for_(cv::Range(0, static_cast<int>(frames.size())), [&](const cv::Range& range) {
    for (int i = range.start; i < range.end; ++i) {
      const SourceFrame& frame = frames[static_cast<size_t>(i)];
      fs::path destination = dest_prefix + std::to_string(frame.number) + ".png";
      if (up_to_date(destination, frame.path)) continue;
      bool ok = frame.is_png ? link_frame(frame.path, destination) : convert_frame(frame.path, destination);
      if (!ok) failed_frame = frame.number;
    }
  });
  if (failed_frame >= 0) {
    std::fprintf(stderr, "convert_frames: cannot convert frame %lld of %s into %s\n", failed_frame.load(),
                 input_dir.string().c_str(), dest_prefix.c_str());
    return 1;
  }
  long long first = frames.front().number, last = frames.back().number;
  long long count = static_cast<long long>(frames.size());
  if (last - first + 1 != count)
    std::fprintf(stderr, "convert_frames: warning: %lld frames between %lld and %lld are missing\n",
                 last - first + 1 - count, first, last);
  std::printf("frames %lld %lld %lld\n", first, last, count);
  return 0;
}
