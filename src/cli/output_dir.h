// OUTDIR, where everything a run writes goes, and the names of its files.
#pragma once

#include <string>

namespace strellix::cli {

struct SegmentOptions;

constexpr const char* BACKGROUND_FILE = "background.png";
constexpr const char* RUN_RECORD_FILE = "run.json";
constexpr const char* CHECKPOINT_STATE_FILE = "checkpoint.state";
constexpr const char* CHECKPOINT_RUN_FILE = "checkpoint.txt";

// "mask000001.png", "background000050.png": the mask and the model
// rendering after frame `number`.
std::string mask_file_name(long long number);
std::string rendering_file_name(long long number);

// True for the names above, any mask or rendering name among them.
bool is_run_file(const std::string& name);

// `name` inside the run's OUTDIR.
std::string output_path(const SegmentOptions& options, const std::string& name);

// Before anything is read or written: OUTDIR must be new or empty (any
// directory with --overwrite, one holding a checkpoint with --resume), and
// not the input's own directory. Throws a usage error that says what to do.
void check_output_dir(const SegmentOptions& options);

// Creates OUTDIR (and missing parents), or with --overwrite removes the
// files of an earlier run from it; with --resume removes only what an
// interrupted writer left. Throws CommandFailure with EXIT_OUTPUT.
void prepare_output_dir(const SegmentOptions& options);

}  // namespace strellix::cli
