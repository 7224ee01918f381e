// What a processed frame leaves behind: its mask file, the mask window and
// the rendering of the background model.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "driver/output_writer.h"
#include "driver/run_state.h"

namespace strellix {

// Saves an image atomically; a failure is reported on standard error and
// remembered for the exit code, and the run goes on.
void save_run_image(RunState& run, const std::string& path, const cv::Mat& image);

// Builds mask_image from the labels and saves it as the mask of frame k.
void save_mask_of_frame(RunState& run, const unsigned char* labels, long long k);

// The per-frame outputs of frame k from its current labels, as the
// switches ask: mask file, mask window, background rendering. With a
// writer the mask file is queued on it; the rendering is written in line
// once the writer is idle, so that only one thread writes files at a time
// and the message of a failed rendering keeps its place on the console.
void write_frame_outputs(RunState& run, const unsigned char* labels, long long k,
                         OutputWriter* writer = nullptr);

}  // namespace strellix
