// `strellix segment`: a whole run, from the input to the files in OUTDIR.
#pragma once

#include "cli/segment_options.h"

namespace strellix::cli {

// Checks the options, runs and returns the exit code; failures that end the
// run early are thrown as CommandFailure (see command_failure.h). A run
// stopped by a signal ends the process by that signal once its files are
// written.
int run_segment(SegmentOptions& options);

}  // namespace strellix::cli
