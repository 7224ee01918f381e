// Run set-up: switches, refused values, the model, release.
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

// The model's parameters for the switches (after settings_refused).
Parameters model_parameters(const RunSettings& s);

// Makes the run's model, once W and H are known, with the implementation
// of the passes that the environment asks for.
void create_model(RunState& run);

// Releases the model and every buffer of the run; safe on a run that never
// made them, so it also serves the early ends.
void release_run_buffers(RunState& run);

}  // namespace strellix
