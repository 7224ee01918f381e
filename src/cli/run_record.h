// run.json: what a run was asked to do and how far it got, written
// atomically into OUTDIR when it ends, whether complete or not.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "cli/segment_options.h"

namespace strellix::cli {

struct RunRecord {
  std::string status = "failed";  // "complete", "incomplete", "interrupted" or "failed"
  std::string reason;             // why a run failed or is incomplete; "" otherwise
  int exit_code = 0;
  std::string implementation;  // of the passes, as the library tells
  cv::Size frame_size;
  double input_frame_rate = 0.0;   // 0: unknown
  long long first = 0, last = 0;   // numbers of the first and last frame done
  long long frames_done = 0;       // in the whole run, the resumed part included
  long long frames_expected = -1;  // the frames the input declares for the range, -1: unknown
  long long resumed_after = -1;    // frames done before this process, -1: not resumed
  double seconds_total = 0.0;      // of this process
  double seconds_median = 0.0;     // reading the median's frames and seeding the model
  double seconds_segmentation = 0.0;
  double frames_per_second = 0.0;               // frames done by this process over the time of its frame loop
  std::string mask_video_codec, overlay_codec;  // of the videos written, "" for none
};

// False, after a message naming the file, when it cannot be written.
bool write_run_record(const SegmentOptions& options, const RunRecord& record);

}  // namespace strellix::cli
