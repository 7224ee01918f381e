#include "core/atomic_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace strellix {

namespace {

// The usual limit on one file name component.
constexpr std::size_t max_name_length = 255;

using ContentWriter = std::function<bool(int fd)>;

// The reason of the first step that failed, kept while the clean-up after
// it (close, unlink) may change errno, so that the caller can tell a full
// disk from a read-only one.
class FirstError {
 public:
  // Passes `ok` through, noting errno when it is the first failure.
  bool check(bool ok) {
    if (!ok) note();
    return ok;
  }
  void note() {
    if (error_ == 0) error_ = errno;
  }
  void restore() const {
    if (error_ != 0) errno = error_;
  }

 private:
  int error_ = 0;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The watch's hooks, for writes that have one.
void watch_begin(TemporaryNameWatch* watch, const std::string& temporary) {
  if (watch != nullptr) watch->begin(temporary);
}
void watch_end(TemporaryNameWatch* watch) {
  if (watch != nullptr) watch->end();
}

// Brackets the system call that makes the temporary name.
class Naming {
 public:
  explicit Naming(TemporaryNameWatch* watch) : watch_(watch) {
    if (watch_ != nullptr) watch_->naming();
  }
  ~Naming() {
    if (watch_ != nullptr) watch_->named();
  }
  Naming(const Naming&) = delete;
  Naming& operator=(const Naming&) = delete;

 private:
  TemporaryNameWatch* watch_;
};

// The content, and with `durable` on the disk too.
bool write_content_to(int fd, const ContentWriter& write_content, bool durable) {
  return write_content(fd) && (!durable || fsync(fd) == 0);
}

bool write_through_named_temporary(const std::string& path, const ContentWriter& write_content, bool durable,
                                   TemporaryNameWatch* watch) {
  const std::string temporary = temporary_name_for(path);
  watch_begin(watch, temporary);
  int fd = -1;
  {
    const Naming naming(watch);
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  FirstError error;
  bool ok = fd >= 0;
  if (!ok) error.note();
  if (ok) {
    ok = error.check(write_content_to(fd, write_content, durable));
    // close() can be the first to report a failed write on some file systems.
    if (!error.check(close(fd) == 0)) ok = false;
    if (ok && !error.check(std::rename(temporary.c_str(), path.c_str()) == 0)) ok = false;
    if (!ok) unlink(temporary.c_str());
  }
  watch_end(watch);
  error.restore();
  return ok;
}

// Written into a file without a name, which gets one only once it is
// complete: a run killed meanwhile, even by SIGKILL, leaves nothing. Only
// the moment between naming and renaming leaves a name behind. False, with
// nothing left behind, when the file system or /proc does not allow it.
bool write_through_unnamed_file(const std::string& path, const ContentWriter& write_content, bool durable,
                                TemporaryNameWatch* watch, bool& ok) {
#ifdef O_TMPFILE
  const int fd = open(directory_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  FirstError error;
  if (!error.check(write_content_to(fd, write_content, durable))) {
    close(fd);
    ok = false;
    error.restore();
    return true;
  }
  const std::string temporary = temporary_name_for(path);
  const std::string handle = "/proc/self/fd/" + std::to_string(fd);
  watch_begin(watch, temporary);
  unlink(temporary.c_str());  // a leftover of a process that had this number
  bool named = false;
  {
    const Naming naming(watch);
    named = linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  if (!named) {
    watch_end(watch);
    close(fd);
    return false;
  }
  ok = error.check(close(fd) == 0);
  if (ok && !error.check(std::rename(temporary.c_str(), path.c_str()) == 0)) ok = false;
  if (!ok) unlink(temporary.c_str());
  watch_end(watch);
  error.restore();
  return true;
#else
  (void)path;
  (void)write_content;
  (void)durable;
  (void)watch;
  (void)ok;
  return false;
#endif
}

}  // namespace

bool write_all(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool write_file_atomic(const std::string& path, const ContentWriter& write_content, bool durable,
                       TemporaryNameWatch* watch) {
  bool ok = false;
  if (write_through_unnamed_file(path, write_content, durable, watch, ok)) return ok;
  return write_through_named_temporary(path, write_content, durable, watch);
}

std::string temporary_name_for(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string suffix = ".tmp." + std::to_string(static_cast<long>(getpid()));
  // The temporary name must fit wherever the final one fits: a long name
  // is shortened, not refused.
  const std::size_t room = max_name_length - 1 - suffix.size();
  return dir + "." + name.substr(0, room) + suffix;
}

}  // namespace strellix
