// Arbitrary bytes as a frame file, shared by the fuzzing harness and the
// regression tests that replay its findings. The image decoders run on the
// bytes through grab_frame, and whatever comes back goes through the
// program's own conversions. Checked besides memory safety: a frame is
// refused or is three 8-bit channels; the model-space coordinates stay on
// the cone (|x|, |y| <= 1, 0 <= z <= 1) and masked-out pixels keep their old
// value; the plane conversions give the frame back unchanged; the mask
// holds 255 exactly where the label is LABEL_FOREGROUND and leaves the row
// padding alone; a frame of the wrong size is refused.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "colour/model_space.h"
#include "colour/plane_convert.h"
#include "core/plane_set.h"
#include "core/settings.h"
#include "io/frame_source.h"
#include "scratch_file.h"

namespace strellix {

inline const char* model_space_problem(const cv::Mat& frame, const std::uint8_t* data, std::size_t size) {
  constexpr float untouched = 7.0f;
  const std::size_t count = frame.total();
  std::vector<unsigned char> mask(count, 255);
  // Some pixels masked out, in a pattern the input chooses.
  const std::size_t stride = 2 + (size > 0 ? data[size / 2] % 7 : 0);
  for (std::size_t i = 0; i < count; i += stride) mask[i] = 0;
  ModelSettings settings;
  settings.search_mask = mask.data();

  PlaneSet<float> planes = alloc_float_planes(3, count);
  for (int k = 0; k < 3; ++k)
    for (std::size_t i = 0; i < count; ++i) planes[k][i] = untouched;
  frame_to_model(settings, frame, static_cast<int>(count), planes);
  const char* problem = nullptr;
  for (std::size_t i = 0; i < count && problem == nullptr; ++i) {
    const float x = planes[0][i], y = planes[1][i], z = planes[2][i];
    if (mask[i] == 0) {
      if (x != untouched || y != untouched || z != untouched) problem = "masked pixel changed";
    } else if (!(std::fabs(x) <= 1.0f) || !(std::fabs(y) <= 1.0f) || !(z >= 0.0f && z <= 1.0f)) {
      problem = "model-space point off the cone";
    }
  }
  free_planes(planes, 3);
  return problem;
}

inline const char* plane_round_trip_problem(const cv::Mat& frame) {
  const std::size_t count = frame.total();
  PlaneSet<unsigned char> planes = alloc_byte_planes(3, count);
  image_to_planes(frame, static_cast<int>(count), planes);
  cv::Mat back(frame.rows, frame.cols, CV_8UC3, cv::Scalar::all(0));
  planes_to_image(planes, static_cast<int>(count), back);
  free_planes(planes, 3);
  return cv::norm(frame, back, cv::NORM_INF) != 0.0 ? "planes do not give the frame back" : nullptr;
}

inline const char* mask_image_problem(const cv::Mat& frame, const std::uint8_t* data, std::size_t size) {
  constexpr unsigned char padding = 0x5a;
  const std::size_t count = frame.total();
  const unsigned char kinds[] = {LABEL_BACKGROUND, LABEL_SHADOW, LABEL_FILTERED_FOREGROUND, LABEL_FOREGROUND};
  std::vector<unsigned char> labels(count);
  for (std::size_t i = 0; i < count; ++i) labels[i] = i < size ? data[i] : kinds[i % 4];
  // A view into a wider image: its rows carry padding that must stay as it is.
  cv::Mat wide(frame.rows, frame.cols + 3, CV_8UC1, cv::Scalar::all(padding));
  cv::Mat mask = wide(cv::Rect(0, 0, frame.cols, frame.rows));
  labels_to_image(labels.data(), static_cast<int>(count), mask);
  for (int r = 0; r < frame.rows; ++r) {
    const unsigned char* row = wide.ptr<unsigned char>(r);
    for (int c = 0; c < frame.cols; ++c) {
      const unsigned char label = labels[static_cast<std::size_t>(r) * frame.cols + c];
      if (row[c] != (label == LABEL_FOREGROUND ? 255 : 0)) return "wrong mask byte";
    }
    for (int c = frame.cols; c < frame.cols + 3; ++c)
      if (row[c] != padding) return "mask padding written";
  }
  return nullptr;
}

// Null when the input was handled soundly, else what went wrong.
inline const char* frame_input_problem(const std::uint8_t* data, std::size_t size) {
  const std::string& path = scratch_path("frame");
  if (!write_scratch(path, data, size)) return "cannot write the scratch file";

  const FrameRead read = grab_frame(0, nullptr, 1, path, 0, 0);
  const cv::Mat& frame = read.frame;
  if (frame.empty() && read.status != GRAB_UNUSABLE) return "refusal without GRAB_UNUSABLE";
  if (frame.empty()) return read.error.empty() ? "refusal without a message" : nullptr;
  if (read.status != GRAB_OK) return "frame without GRAB_OK";
  if (frame.type() != CV_8UC3 || frame.rows < 1 || frame.cols < 1) return "frame is not three 8-bit channels";

  if (const char* problem = model_space_problem(frame, data, size)) return problem;
  if (const char* problem = plane_round_trip_problem(frame)) return problem;
  if (const char* problem = mask_image_problem(frame, data, size)) return problem;

  // Decoding twice halves the speed, so the size check runs on every other input.
  if (size > 0 && (data[0] & 1) != 0) {
    const FrameRead refused = grab_frame(0, nullptr, 1, path, frame.cols + 1, frame.rows);
    if (!refused.frame.empty() || refused.status != GRAB_UNUSABLE) return "frame of another size accepted";
  }
  return nullptr;
}

}  // namespace strellix
