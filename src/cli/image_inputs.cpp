// Inputs made of image files: a numbered pattern ("frames/in%06d.jpg") or a
// directory of images in natural order ("img2.png" before "img10.png").
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/command_failure.h"
#include "cli/input_source.h"

namespace strellix::cli {

namespace {

// The names in `dir` ("." and ".." left out); throws an input error when the
// directory cannot be read.
std::vector<std::string> names_in(const std::string& dir) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) throw input_error("cannot read the directory " + dir + ": " + std::strerror(errno));
  std::vector<std::string> names;
  while (const dirent* entry = readdir(handle)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(handle);
  return names;
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Natural order: runs of digits compare by their value, the rest byte by
// byte, so that frame2 comes before frame10 whatever the padding.
bool natural_less(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
    const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::size_t zi = i, zj = j;  // leading zeros do not change a value
      while (zi + 1 < ei && a[zi] == '0') ++zi;
      while (zj + 1 < ej && b[zj] == '0') ++zj;
      const std::size_t li = ei - zi, lj = ej - zj;
      if (li != lj) return li < lj;
      const int order = a.compare(zi, li, b, zj, lj);
      if (order != 0) return order < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
  return a < b;  // equal by value ("a01" and "a1"): any fixed order
}

std::string joined(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

// Reads one frame file with the hardened reader.
FrameRead read_file_frame(const std::string& path, const cv::Size& expected) {
  return grab_frame(0, nullptr, 0, path, expected.width, expected.height);
}

// Numbered files: frame k is the file the pattern names for k. A number
// that has no file ends the run, as in Strellixplus.
class PatternInput : public InputSource {
 public:
  PatternInput(const InputLocation& location, const std::optional<long long>& start,
               const std::optional<long long>& end)
      : location_(location) {
    std::set<long long> numbers;
    for (const std::string& name : names_in(location.directory)) {
      long long number = 0;
      if (number_of_name(location.pattern, name, &number) && number >= -MAX_FRAME_NUMBER &&
          number <= MAX_FRAME_NUMBER)
        numbers.insert(number);
    }
    if (numbers.empty()) throw input_error("no file in " + location.directory + " matches " + location.text);
    first_number_ = start.value_or(*numbers.begin());
    if (numbers.count(first_number_) == 0)
      throw input_error(location.text + " has no frame " + std::to_string(first_number_) + " (no file " +
                        path_of(first_number_) + ")");
    end_ = end.value_or(MAX_FRAME_NUMBER);
    if (end_ < first_number_)
      throw usage_error("--end " + std::to_string(end_) + " comes before the first frame, " +
                        std::to_string(first_number_));
    last_ = first_number_;
    while (last_ < end_ && numbers.count(last_ + 1) != 0) ++last_;
    const auto beyond = numbers.upper_bound(last_ + 1);
    if (last_ < end_ && beyond != numbers.end() && *beyond <= end_)
      std::fprintf(stderr,
                   "strellix: note: %s is missing, so the run ends at frame %lld; the files from %s on "
                   "are not read\n",
                   path_of(last_ + 1).c_str(), last_, path_of(*beyond).c_str());
    next_ = first_number_;
  }

  FrameRead read(long long& number) override {
    if (finished_) return FrameRead();
    FrameRead read = read_file_frame(path_of(next_), expected_);
    if (read.status != GRAB_OK) return read;
    if (expected_.empty()) expected_ = read.frame.size();
    number = next_;
    advance(1);
    return read;
  }

  bool skip(long long count) override {
    if (finished_ || count > end_ - next_ + 1) return false;
    advance(count);
    return true;
  }

  // The files present when the input was opened; one added or taken away
  // later shows up as the run goes.
  long long total() const override { return last_ - first_number_ + 1; }

  std::vector<std::string> files() const override {
    std::vector<std::string> paths;
    for (long long k = first_number_; k <= last_; ++k) paths.push_back(path_of(k));
    return paths;
  }

 private:
  std::string path_of(long long number) const {
    return joined(location_.directory, format_name(location_.pattern, number));
  }
  void advance(long long count) {
    if (end_ - next_ < count) {
      finished_ = true;
    } else {
      next_ += count;
    }
  }

  InputLocation location_;
  long long next_ = 0, last_ = 0, end_ = MAX_FRAME_NUMBER;
  bool finished_ = false;
};

// The image files of a directory in natural order; hidden files, other
// files and subdirectories are left out. Frame k is the k-th.
class DirectoryInput : public InputSource {
 public:
  DirectoryInput(const InputLocation& location, const std::optional<long long>& start,
                 const std::optional<long long>& end) {
    for (const std::string& name : names_in(location.text))
      if (name[0] != '.' && has_image_extension(name) && is_regular_file(joined(location.text, name)))
        files_.push_back(joined(location.text, name));
    std::sort(files_.begin(), files_.end(), natural_less);
    const long long count = static_cast<long long>(files_.size());
    if (count == 0) throw input_error("no image files in the directory " + location.text);
    first_number_ = start.value_or(1);
    if (first_number_ > count)
      throw input_error(location.text + " has " + std::to_string(count) + " images; there is no frame " +
                        std::to_string(first_number_));
    last_ = std::min(end.value_or(count), count);
    next_ = first_number_;
  }

  FrameRead read(long long& number) override {
    if (next_ > last_) return FrameRead();
    const std::string& path = files_[static_cast<std::size_t>(next_ - 1)];
    FrameRead read = read_file_frame(path, expected_);
    // It was there when the directory was listed.
    if (read.status == GRAB_MISSING) {
      read.status = GRAB_UNUSABLE;
      read.error = path + " went away during the run";
    }
    if (read.status != GRAB_OK) return read;
    if (expected_.empty()) expected_ = read.frame.size();
    number = next_++;
    return read;
  }

  bool skip(long long count) override {
    if (count > last_ - next_ + 1) return false;
    next_ += count;
    return true;
  }

  long long total() const override { return last_ - first_number_ + 1; }

  std::vector<std::string> files() const override {
    return std::vector<std::string>(files_.begin() + (first_number_ - 1), files_.begin() + last_);
  }

 private:
  std::vector<std::string> files_;
  long long next_ = 1, last_ = 0;
};

}  // namespace

std::unique_ptr<InputSource> open_image_files(const InputLocation& location,
                                              const std::optional<long long>& start,
                                              const std::optional<long long>& end) {
  if (location.kind == InputKind::pattern) return std::make_unique<PatternInput>(location, start, end);
  return std::make_unique<DirectoryInput>(location, start, end);
}

}  // namespace strellix::cli
