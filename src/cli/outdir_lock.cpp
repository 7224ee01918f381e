#include "cli/outdir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "cli/command_failure.h"
#include "cli/interrupt.h"
#include "cli/output_dir.h"

namespace strellix::cli {

namespace {

namespace fs = std::filesystem;

// Enough for run.json (and its temporary copy) many times over.
constexpr off_t RESERVE_BYTES = 64 * 1024;

std::string reason(int error) {
  return std::strerror(error);
}

CommandFailure unwritable(const std::string& dir, int error) {
  return CommandFailure(EXIT_OUTPUT, "cannot write in " + dir + ": " + reason(error));
}

// "2024-05-01 10:00:03 +0200", the local time of now.
std::string local_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm parts;
  char text[64];
  if (localtime_r(&now, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &parts) == 0)
    return "at an unknown time";
  return text;
}

// The lock file's text, up to the room kept after it, lines joined by ", ".
std::string holder_text(int fd) {
  char text[4096];
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  if (got <= 0) return "";
  text[got] = '\0';
  std::string joined;
  for (const char* at = text; *at != '\0';) {
    const char* end = std::strchr(at, '\n');
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
    if (length > 0) joined += (joined.empty() ? "" : ", ") + std::string(at, length);
    at += length + (end != nullptr ? 1 : 0);
  }
  return joined;
}

bool same_file(int fd, const std::string& path) {
  struct stat open_one, named_one;
  return fstat(fd, &open_one) == 0 && lstat(path.c_str(), &named_one) == 0 &&
         open_one.st_dev == named_one.st_dev && open_one.st_ino == named_one.st_ino;
}

}  // namespace

OutdirLock::OutdirLock(const SegmentOptions& options) : o_(options), path_(output_path(options, LOCK_FILE)) {
  check_output_dir_place(o_);
  try {
    make_directories();
    take_lock();
    check_output_dir(o_);  // now that no other run can change the answer
    try_a_write();
  } catch (...) {
    release();
    throw;
  }
}

OutdirLock::~OutdirLock() {
  release();
}

// Each missing directory on the way, made one at a time so that those made
// here are known and can be taken away again.
void OutdirLock::make_directories() {
  fs::path on_the_way;
  for (const fs::path& part : fs::path(o_.output_dir)) {
    on_the_way /= part;
    if (mkdir(on_the_way.c_str(), 0777) == 0) {
      made_.push_back(on_the_way.string());
      continue;
    }
    if (errno == EEXIST) continue;
    if (errno == EROFS || errno == EACCES || errno == EPERM || errno == ENOSPC || errno == EDQUOT)
      throw CommandFailure(EXIT_OUTPUT, "cannot create " + o_.output_dir + ": " + reason(errno));
    throw CommandFailure(EXIT_OUTPUT, "cannot create " + on_the_way.string() + ": " + reason(errno));
  }
}

// The lock, on the file that has the lock file's name: a run that has just
// ended may have taken the file away between its opening and its locking
// here, so the name is looked up again.
void OutdirLock::take_lock() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd_ < 0 && errno == ENOENT) {
      make_directories();  // a run that made OUTDIR took it away as it ended
      continue;
    }
    if (fd_ < 0) {
      if (errno == ELOOP) throw usage_error(path_ + " is a symbolic link; take it away, it is not a run's");
      throw unwritable(o_.output_dir, errno);
    }
    struct stat info;
    if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      close(fd_);
      fd_ = -1;
      throw usage_error(path_ + " is not a regular file; take it away, it is not a run's");
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) say_who_holds_it();
      const int error = errno;
      close(fd_);
      fd_ = -1;
      throw CommandFailure(EXIT_OUTPUT, "cannot lock " + path_ + ": " + reason(error));
    }
    if (same_file(fd_, path_)) break;
    close(fd_);
    fd_ = -1;
  }
  if (fd_ < 0) throw CommandFailure(EXIT_OUTPUT, "cannot lock " + path_ + ": it keeps being replaced");
  cleanup_slot_ = remember_temporary(path_);
  const std::string holder = "pid " + std::to_string(static_cast<long>(getpid())) + "\nstarted " +
                             local_time_now() + "\ninput " + o_.location.text + "\n";
  // The text first, then zeros up to the room kept; a full disk leaves
  // the room out, which only matters once a write fails.
  if (ftruncate(fd_, 0) != 0 ||
      pwrite(fd_, holder.data(), holder.size(), 0) != static_cast<ssize_t>(holder.size()))
    throw unwritable(o_.output_dir, errno);
  holder_bytes_ = static_cast<off_t>(holder.size());
  (void)posix_fallocate(fd_, 0, RESERVE_BYTES);
}

// Refuses the run, naming the one that holds OUTDIR. That run writes what
// it is just after it takes the lock, so a moment's wait covers the case
// where it has not yet.
void OutdirLock::say_who_holds_it() {
  std::string holder;
  for (int wait = 0; wait < 20 && holder.empty(); ++wait) {
    holder = holder_text(fd_);
    if (holder.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(fd_);
  fd_ = -1;
  throw usage_error(o_.output_dir + " is in use by another run of strellix (" +
                    (holder.empty() ? std::string("it does not say which") : holder) +
                    "); wait until it ends, or choose another OUTDIR");
}

// A file that has no name, or one under a temporary name: a read-only
// OUTDIR is found out before the first frame is read, not after the last.
void OutdirLock::try_a_write() const {
  const char byte = 0;
  int fd = open(o_.output_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  std::string named;
  if (fd < 0 && errno != EROFS && errno != EACCES && errno != EPERM && errno != ENOSPC && errno != EDQUOT) {
    named = output_path(o_, ".strellix.probe." + std::to_string(static_cast<long>(getpid())));
    fd = open(named.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  }
  if (fd < 0) throw unwritable(o_.output_dir, errno);
  const bool written = write(fd, &byte, 1) == 1;
  const int error = errno;
  close(fd);
  if (!named.empty()) unlink(named.c_str());
  if (!written) throw unwritable(o_.output_dir, error);
}

// The text stays, so that another run can still tell who holds OUTDIR.
void OutdirLock::release_reserve() {
  if (fd_ < 0) return;
  const int ignored = ftruncate(fd_, holder_bytes_);  // what is freed is a bonus
  (void)ignored;
}

void OutdirLock::release() {
  if (fd_ >= 0) {
    // Only the file this run locked: the name may be another's by now.
    if (same_file(fd_, path_)) unlink(path_.c_str());
    forget_temporary(cleanup_slot_);
    cleanup_slot_ = -1;
    close(fd_);
    fd_ = -1;
  }
  for (auto made = made_.rbegin(); made != made_.rend(); ++made)
    if (rmdir(made->c_str()) != 0) break;
  made_.clear();
}

}  // namespace strellix::cli
