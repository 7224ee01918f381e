// Output files of the programs that appear complete or not at all: the
// library's atomic writes (core/atomic_write.h), each with its temporary
// name registered, so that a signal that ends the process removes it.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "core/atomic_write.h"

namespace strellix {

// Writes `bytes` as the file `path`, atomically. Returns false when it
// could not be written, with errno saying why; nothing is left behind then.
bool write_file_atomic(const std::string& path, const std::vector<unsigned char>& bytes);

// The same for content that write_content(fd) writes to the open file
// (false when it could not). With `durable` the content reaches the disk
// before the file takes its name, so that not even a power cut can leave
// a damaged file under it.
bool write_file_atomic(const std::string& path, const std::function<bool(int fd)>& write_content,
                       bool durable);

// Saves an image (format from the extension of `path`) atomically.
// Returns false when it could not be written, with errno saying why (0
// when the image could not be encoded); nothing is left behind then.
bool save_image_atomic(const std::string& path, const cv::Mat& image);

// The temporary file being written, if any, is removed when the process is
// ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT. Call once at start-up.
void install_temporary_file_cleanup();

// Registers the temporary file of the calling thread so that a signal
// removes it, and forgets it afterwards. Each thread has at most one.
void begin_temporary_file(const std::string& temporary_path);
void end_temporary_file();

}  // namespace strellix
