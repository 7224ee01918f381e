// Output files that appear complete or not at all: each is written as a file
// without a name (or, where the file system cannot, under a temporary name)
// in its own directory and renamed into place once complete.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace strellix {

// Temporary name in the same directory as `path`.
std::string temporary_name_for(const std::string& path);

// Writes `bytes` as the file `path`, atomically. Returns false when it
// could not be written; nothing is left behind then.
bool write_file_atomic(const std::string& path, const std::vector<unsigned char>& bytes);

// Saves an image (format from the extension of `path`) atomically.
// Returns false when it could not be written; nothing is left behind then.
bool save_image_atomic(const std::string& path, const cv::Mat& image);

// The temporary file being written, if any, is removed when the process is
// ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT. Call once at start-up.
void install_temporary_file_cleanup();

// Registers the temporary file of the calling thread so that a signal
// removes it, and forgets it afterwards. Each thread has at most one.
void begin_temporary_file(const std::string& temporary_path);
void end_temporary_file();

}  // namespace strellix
