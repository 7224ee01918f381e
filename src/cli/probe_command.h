// `strellix probe INPUT`: what a run on INPUT would meet before it starts,
// for a scheduler that places it: the frame size, the frame count where
// the input tells it, and the memory the run needs with these parameters.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "cli/input_location.h"
#include "strellix/strellix.hpp"

namespace strellix::cli {

struct ProbeOptions {
  std::string input;
  Parameters parameters;
  std::string background_file;  // only whether one is given counts: no median then
  std::optional<long long> start, end;
  double stream_timeout = DEFAULT_STREAM_TIMEOUT;  // seconds
  bool files = false;                              // list the files the run reads instead of the report
  bool json = false;
};

// Adds the subcommand and its options to `app`.
CLI::App* add_probe_command(CLI::App& app, ProbeOptions& options);

// Reads the input's first frame of the range and prints the report on
// standard output (with `files`, lists the files the run would read, and
// reads no frame). Throws CommandFailure: EXIT_USAGE for an unusable
// command line, EXIT_NO_INPUT when the input cannot be opened or its first
// frame cannot be used.
int run_probe(const ProbeOptions& options);

}  // namespace strellix::cli
