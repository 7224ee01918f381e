// The options `strellix segment` and `strellix probe` share: the model's
// parameters and the frame range, so that a probe takes the very command
// line of the run it sizes.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "strellix/strellix.hpp"

namespace strellix::cli {

// --layers, --width-1d, --width-2d, --threshold, --learning-rate,
// --median-frames, --background FILE, --threads and --numerics, in the
// group "Model".
void add_model_options(CLI::App& command, Parameters& parameters, std::string& background_file);

// --start and --end, in the group "Frames".
void add_frame_range_options(CLI::App& command, std::optional<long long>& start,
                             std::optional<long long>& end);

// --stream-timeout, in the group "Frames".
void add_stream_timeout_option(CLI::App& command, double& seconds);

}  // namespace strellix::cli
