#include "cli/evaluate_range.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command_failure.h"

namespace strellix::cli {

namespace {

namespace fs = std::filesystem;

// The highest frame number a file name or temporalROI.txt may carry.
constexpr long long MAX_SCORED_FRAME = 999999999;

// A frame number written as plain decimal digits, nothing else.
bool read_frame_number(const std::string& text, long long* number) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  *number = std::stoll(text);
  return *number <= MAX_SCORED_FRAME;
}

// What a file holds, cut short, for a message that quotes it.
std::string quoted_start(const std::string& text) {
  std::string shown;
  for (char c : text.substr(0, 40)) shown += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  return "\"" + shown + (text.size() > 40 ? "..." : "") + "\"";
}

// The lowest and highest numbers of the ground-truth files present.
bool present_truth(const std::string& truth_dir, const NamePattern& pattern, FrameRange* present) {
  std::error_code error;
  if (!fs::is_directory(truth_dir, error))
    throw input_error("the ground-truth directory " + truth_dir + " does not exist");
  bool any = false;
  for (fs::directory_iterator it(truth_dir, error), end; !error && it != end; it.increment(error)) {
    long long number = 0;
    if (!number_of_name(pattern, it->path().filename().string(), &number) || number > MAX_SCORED_FRAME)
      continue;
    if (!any || number < present->first) present->first = number;
    if (!any || number > present->last) present->last = number;
    any = true;
  }
  if (error) throw input_error("cannot read the directory " + truth_dir + ": " + error.message());
  return any;
}

std::string range_text(const FrameRange& r) {
  return std::to_string(r.first) + "-" + std::to_string(r.last);
}

}  // namespace

std::string temporal_roi_path(const std::string& truth_dir) {
  fs::path dir = fs::path(truth_dir).lexically_normal();
  if (dir.filename().empty()) dir = dir.parent_path();
  return (dir.parent_path() / "temporalROI.txt").string();
}

FrameRange read_temporal_roi(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw input_error("cannot read " + path + ": " + std::strerror(errno));
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string text = whole.str();
  std::istringstream words(text);
  std::string a, b;
  words >> a >> b;
  FrameRange r;
  if (!read_frame_number(a, &r.first) || !read_frame_number(b, &r.last))
    throw input_error(path +
                      " should hold the first and last scored frame, two whole numbers such as \"470 1700\"; "
                      "it holds " +
                      quoted_start(text));
  if (r.last < r.first)
    throw input_error(path + " names frames " + range_text(r) + ", the last before the first");
  return r;
}

FrameRange scored_frames(const std::optional<long long>& first, const std::optional<long long>& last,
                         const std::optional<FrameRange>& within, const std::string& truth_dir,
                         const std::string& truth_pattern_text, const NamePattern& truth_pattern) {
  FrameRange r;
  if (first && last) {
    r = {*first, *last};
  } else {
    const std::string roi_path = temporal_roi_path(truth_dir);
    std::error_code error;
    if (!fs::exists(roi_path, error))
      throw usage_error(
          "no frame range: give --first and --last, or write the first and last scored frame into " +
          roi_path);
    const FrameRange named = read_temporal_roi(roi_path);
    FrameRange present;
    if (!present_truth(truth_dir, truth_pattern, &present))
      throw input_error("no file in " + truth_dir + " matches " + truth_pattern_text);
    r.first = first.value_or(std::max(named.first, present.first));
    r.last = last.value_or(std::min(named.last, present.last));
    if (r.last < r.first && !first && !last)
      throw usage_error(roi_path + " names frames " + range_text(named) + " and " + truth_dir +
                        " holds ground truth for frames " + range_text(present) +
                        ": no frame is in both; give --first and --last");
  }
  if (r.last < r.first) throw usage_error("empty frame range " + range_text(r));
  if (within) {
    const FrameRange wanted = r;
    r.first = std::max(r.first, within->first);
    r.last = std::min(r.last, within->last);
    if (r.last < r.first)
      throw usage_error("the frames to score, " + range_text(wanted) + ", and --within " +
                        range_text(*within) + " share none");
  }
  return r;
}

}  // namespace strellix::cli
