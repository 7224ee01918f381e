// Files that appear complete or not at all: each is written as a file
// without a name (or, where the file system cannot, under a temporary name)
// in its own directory and renamed into place once complete.
//
// A process ended meanwhile by a signal may leave the temporary name behind.
// The library keeps no list of such names: a program that removes them on
// a signal passes a TemporaryNameWatch, which hears of each one.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace strellix {

class TemporaryNameWatch {
 public:
  virtual ~TemporaryNameWatch() = default;
  // The temporary name a write may give its file, before anything can
  // exist under it; end() follows once nothing does any more.
  virtual void begin(const std::string& temporary) = 0;
  virtual void end() = 0;
  // Bracket the one system call that makes the temporary name, so that a
  // signal handler either finds the name or comes first and keeps it from
  // being made.
  virtual void naming() = 0;
  virtual void named() = 0;
};

// Temporary name in the same directory as `path`.
std::string temporary_name_for(const std::string& path);

// Writes `path` atomically with what write_content(fd) writes to the open
// file; false when anything failed (write_content included), with nothing
// left behind and errno telling why the first step that failed did (what
// write_content left in it, for its own failures). With `durable` the content reaches the disk before the
// file takes its name, so that not even a power cut can leave a damaged
// file under it. `watch` may be null.
bool write_file_atomic(const std::string& path, const std::function<bool(int fd)>& write_content,
                       bool durable, TemporaryNameWatch* watch);

// Writes all `size` bytes to fd, carrying on after interruptions.
bool write_all(int fd, const unsigned char* data, std::size_t size);

}  // namespace strellix
