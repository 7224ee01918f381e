// Run set-up: switches, refused values, run-wide settings, buffers, release.
#pragma once

#include <cstddef>

#include "driver/run_state.h"

namespace strellix {

// Reads every switch in the fixed order; a switch without a usable value
// ends the process with exit code 2 (inside the readers).
RunSettings read_run_settings(int& argc, char** argv);

// True (after a message on standard error) when a value leaves the range
// that the rest of the run can work with.
bool settings_refused(const RunSettings& s);

// True (after a message on standard error) when the model, and the median's
// frame store when it is computed, would not fit in the machine's memory.
bool memory_refused(const RunSettings& s, std::size_t pixel_count);

// Publishes n, the 1D width and the learning rate to the passes.
void set_run_wide_settings(const RunSettings& s);

// frame_planes, bg_model, seg_mask and the all-255 search_mask, in this
// order, once W and H are known.
void allocate_frame_buffers(RunState& run);

// Frees every buffer of the run in the teardown order; buffers that were
// never allocated are skipped, so it also serves the early ends.
void release_run_buffers(RunState& run);

}  // namespace strellix
