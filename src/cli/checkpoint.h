// Checkpoints of a run, so that --resume can continue it after a crash or
// a kill: the library's state snapshot (checkpoint.state, which also counts
// the frames applied) and a description of the run it belongs to
// (checkpoint.txt: input and every option that changes the outputs), both
// in OUTDIR and both written atomically.
#pragma once

#include <string>

#include "cli/segment_options.h"
#include "strellix/strellix.hpp"

namespace strellix::cli {

// One "name=value" line for the input and each such option, with the first
// frame's number as the input resolved it.
std::string describe_run(const SegmentOptions& options, long long first_number);

// Writes checkpoint.txt; throws CommandFailure with EXIT_OUTPUT.
void write_run_description(const SegmentOptions& options, const std::string& description);

// Throws a usage error naming the first option whose value differs from
// the interrupted run's, or EXIT_NO_INPUT when checkpoint.txt cannot be read.
void check_run_description(const SegmentOptions& options, const std::string& description);

// Saves the model as checkpoint.state; "" when written, else "cannot
// write PATH: REASON". The checkpoint before it stays as it was then.
std::string save_checkpoint(const Subtractor& subtractor, const SegmentOptions& options);

// The model of the last checkpoint; throws CommandFailure with
// EXIT_NO_INPUT for a file that is missing, damaged or of another version.
Subtractor load_checkpoint(const SegmentOptions& options);

// Throws an input error, before anything is written, when the loaded
// checkpoint cannot be this run's: other parameters than the command's
// (a state file copied in from elsewhere), another frame size than the
// input's, or more frames applied than the input now has in its range
// (`input_frames`, -1 when unknown). Names what differs.
void check_checkpoint_belongs(const SegmentOptions& options, const Subtractor& model, cv::Size input_size,
                              long long input_frames);

// Removes both files once the run they serve has completed.
void remove_checkpoint(const SegmentOptions& options);

}  // namespace strellix::cli
