// The options of `strellix segment`, and their checks before anything is
// read or written.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "cli/input_location.h"
#include "strellix/strellix.hpp"

namespace strellix::cli {

struct SegmentOptions {
  std::string input;  // empty with --camera
  std::optional<long long> camera;
  std::string output_dir;
  Parameters parameters;
  std::optional<long long> start, end;
  std::string background_file;  // seed from this image instead of the median
  bool cold_start = false;      // black masks before the median's last frame
  bool no_masks = false;
  std::string mask_video;  // file names inside output_dir, empty: none
  std::string overlay;
  int background_every = 0;                        // 0: no renderings
  int checkpoint_every = 0;                        // 0: no checkpoints
  double fps = 0.0;                                // of the videos written; 0: the input's, or 25
  double stream_timeout = DEFAULT_STREAM_TIMEOUT;  // seconds
  bool overwrite = false;
  bool resume = false;
  bool quiet = false;

  InputLocation location;  // worked out by check_segment_options
};

// Adds the subcommand and its options to `app`.
CLI::App* add_segment_command(CLI::App& app, SegmentOptions& options);

// Checks what the options ask for together (input, output names, where
// OUTDIR is: what is in it is checked under its lock) and fills
// options.location. Throws CommandFailure: EXIT_USAGE, or
// EXIT_NO_INPUT for an input path that does not exist. Reads and writes
// nothing.
void check_segment_options(SegmentOptions& options);

}  // namespace strellix::cli
