// OUTDIR, where everything a run writes goes, and the names of its files.
#pragma once

#include <string>

namespace strellix::cli {

struct SegmentOptions;

constexpr const char* BACKGROUND_FILE = "background.png";
constexpr const char* RUN_RECORD_FILE = "run.json";
constexpr const char* CHECKPOINT_STATE_FILE = "checkpoint.state";
constexpr const char* CHECKPOINT_RUN_FILE = "checkpoint.txt";
// Held by the run that uses OUTDIR (outdir_lock.h); not a file of the run.
constexpr const char* LOCK_FILE = ".strellix.lock";

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
// not the input's own directory; a symbolic link that leads nowhere is
// named as such. The lock file does not count. Throws a usage error that
// says what to do.
void check_output_dir(const SegmentOptions& options);

// The part of that check that does not look inside OUTDIR, for the
// options' check: what is inside is checked under the lock, so that
// another run's files are not taken for an earlier run's. True when
// OUTDIR exists.
bool check_output_dir_place(const SegmentOptions& options);

// Creates OUTDIR (and missing parents), or with --overwrite removes the
// files of an earlier run from it; with --resume removes only what an
// interrupted writer left. Throws CommandFailure with EXIT_OUTPUT.
void prepare_output_dir(const SegmentOptions& options);

}  // namespace strellix::cli
