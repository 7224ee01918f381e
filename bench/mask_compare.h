// Byte-for-byte comparison of masks, in memory and as the files a run
// writes. Faster builds and the benchmark's own drive of the passes are
// held to the plain program's masks with these.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "driver/seq_names.h"

inline std::string mask_path_in(const std::string& dir, long long k) {
  return dir + "/" + strellix::mask_file_name(k);
}

// The mask file of frame k, or an empty image when there is none (without
// the decoder's complaint about a missing file).
inline cv::Mat read_mask_file(const std::string& dir, long long k) {
  const std::string path = mask_path_in(dir, k);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return cv::Mat();
  }
  return cv::imread(path, cv::IMREAD_UNCHANGED);
}

// Same size, same type and every byte equal (any channel count).
inline bool same_image(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) {
    return false;
  }
  if (a.empty()) {
    return true;
  }
  cv::Mat differs;
  cv::compare(a.reshape(1), b.reshape(1), differs, cv::CMP_NE);
  return cv::countNonZero(differs) == 0;
}

// Index of the first mask that differs, the shorter list's length when one
// list merely stops early, or -1 when both lists agree entirely.
inline long long first_different_mask(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (!same_image(a[i], b[i])) {
      return static_cast<long long>(i);
    }
  }
  return a.size() == b.size() ? -1 : static_cast<long long>(n);
}

// Compares the mask files of frames ini..end in two directories. A file
// missing or unreadable on either side counts as a difference. Returns the
// first frame that differs through `first_diff`.
inline bool same_mask_files(const std::string& dir_a, const std::string& dir_b, long long ini, long long end,
                            long long& first_diff) {
  for (long long k = ini; k <= end; ++k) {
    const cv::Mat a = read_mask_file(dir_a, k);
    const cv::Mat b = read_mask_file(dir_b, k);
    if (a.empty() || b.empty() || !same_image(a, b)) {
      first_diff = k;
      return false;
    }
  }
  return true;
}

// Compares masks held in memory, frame ini first, with the files in `dir`.
inline bool masks_match_files(const std::vector<cv::Mat>& masks, const std::string& dir, long long ini,
                              long long& first_diff) {
  for (std::size_t i = 0; i < masks.size(); ++i) {
    const long long k = ini + static_cast<long long>(i);
    const cv::Mat written = read_mask_file(dir, k);
    if (written.empty() || !same_image(written, masks[i])) {
      first_diff = k;
      return false;
    }
  }
  return true;
}
