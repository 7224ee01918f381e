// `strellix evaluate MASKS GROUNDTRUTH`: the seven change-detection metrics
// and the shadow error rate of a directory of masks against a ground-truth
// directory.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "cli/evaluate_range.h"

namespace strellix::cli {

struct EvaluateOptions {
  std::string mask_dir;
  std::string truth_dir;
  std::string roi_path;
  std::optional<long long> first, last;
  std::optional<FrameRange> within;  // the frames a run segmented: nothing outside is scored
  std::string truth_pattern = "gt%06d.png";
  std::string mask_pattern = "mask%06d.png";
  std::optional<long long> shadow_value;  // the grey level the masks give shadows
  bool missing_as_background = false;
  bool per_frame = false;
  bool json = false;
};

// Adds the subcommand and its options to `app`; the parsed values land in
// `options`.
CLI::App* add_evaluate_command(CLI::App& app, EvaluateOptions& options);

// Scores and prints the report on standard output. Returns the exit code:
// 0, 1 for a file that cannot be read (ground truth, mask, region of
// interest, temporalROI.txt) or a mask that is missing, 2 for an unusable
// pattern or frame range.
int run_evaluate(const EvaluateOptions& options);

}  // namespace strellix::cli
