// Output files that appear complete or not at all: each is written as a file
// without a name (or, where the file system cannot, under a temporary name)
// in its own directory and renamed into place once complete.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace strellix {

// Temporary name in the same directory as `path`.
std::string temporary_name_for(const std::string& path);

// Writes `bytes` as the file `path`, atomically. Returns false when it
// could not be written; nothing is left behind then.
bool write_file_atomic(const std::string& path, const std::vector<unsigned char>& bytes);

// The same for content that write_content(fd) writes to the open file
// (false when it could not). With `durable` the content reaches the disk
// before the file takes its name, so that not even a power cut can leave
// a damaged file under it.
bool write_file_atomic(const std::string& path, const std::function<bool(int fd)>& write_content,
                       bool durable);

// Writes all `size` bytes to fd, carrying on after interruptions.
bool write_all(int fd, const unsigned char* data, std::size_t size);

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
