// Output files that appear complete or not at all: each is written under a
// temporary name in its own directory and renamed into place.
#pragma once

#include <opencv2/core.hpp>
#include <string>

// Temporary name in the same directory as `path`.
std::string temporary_name_for(const std::string& path);

// Saves an image (format from the extension of `path`) atomically.
// Returns false when it could not be written; nothing is left behind then.
bool save_image_atomic(const std::string& path, const cv::Mat& image);

// The temporary file being written, if any, is removed when the process is
// ended by SIGINT, SIGTERM or SIGHUP. Call once at start-up.
void install_temporary_file_cleanup();

// Used by writers that produce the bytes themselves (PPM): registers the
// temporary file so that a signal removes it, and forgets it afterwards.
void begin_temporary_file(const std::string& temporary_path);
void end_temporary_file();
