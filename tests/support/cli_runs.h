// Runs of the `strellix` command line on small generated scenes, and the
// masks they write.
#pragma once

#include <sys/types.h>

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "support/run_binary.h"

// `strellix` with these arguments, without a terminal.
RunResult run_cli(const std::vector<std::string>& args, int timeout_seconds = 120);

// The same, started in the background (no terminal, standard streams on
// /dev/null); the caller waits for it with waitpid.
pid_t start_cli(const std::vector<std::string>& args);

// Waits up to `seconds` for `path` to exist; false when it never did.
bool wait_for_file(const std::string& path, double seconds);

// A sample scene of `frames` frames of width x height, generated once per
// test program for each size and count: the prefix of its frames
// ("DIR/frame", frames DIR/frame1.png ...).
const std::string& sample_scene(int frames, int width, int height);

// The mask "<stem>%06d.png" of frame k in `dir` ("mask" for strellix, "bin"
// for Strellixplus), one channel; empty when missing.
cv::Mat read_numbered_mask(const std::string& dir, const std::string& stem, long long k);

// How many of frames first..last have a mask in `dir_a` that is missing or
// differs in any pixel from the one in `dir_b`.
int differing_masks(const std::string& dir_a, const std::string& stem_a, const std::string& dir_b,
                    const std::string& stem_b, long long first, long long last);

// The number after "\"key\": " in a JSON text the command line printed or
// wrote; NaN when it is missing.
double json_value(const std::string& json, const std::string& key);
