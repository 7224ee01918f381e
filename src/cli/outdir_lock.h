// One run per OUTDIR. A run holds an exclusive lock (flock) on a file in
// OUTDIR from before it checks that OUTDIR is new or empty until it ends,
// so that two runs can never mix their files there; the kernel drops the
// lock of a run that dies, so a killed run leaves none behind. The lock
// file also keeps a little room, so that run.json can still be written
// after the disk has filled up.
#pragma once

#include <string>
#include <vector>

#include "cli/segment_options.h"

namespace strellix::cli {

class OutdirLock {
 public:
  // Makes OUTDIR (and its missing parents) when it is new, takes the lock,
  // checks OUTDIR again (check_output_dir: the options' check came first)
  // and tries a write in it, all before any frame is read. Throws CommandFailure: EXIT_USAGE when another run
  // holds OUTDIR (naming it) or the check refuses; EXIT_OUTPUT, with the
  // system's reason, when OUTDIR cannot be made or written in.
  explicit OutdirLock(const SegmentOptions& options);
  // Drops the lock and its file, and takes away the directories made here
  // when the run left them empty.
  ~OutdirLock();
  OutdirLock(const OutdirLock&) = delete;
  OutdirLock& operator=(const OutdirLock&) = delete;

  // Frees the room kept for run.json; after a failed write.
  void release_reserve();
  // What the destructor does, for a process about to end by a signal.
  void release();

 private:
  void make_directories();
  void take_lock();
  void say_who_holds_it();
  void try_a_write() const;

  const SegmentOptions& o_;
  std::string path_;
  std::vector<std::string> made_;  // directories made here, outermost first
  int fd_ = -1;
  long holder_bytes_ = 0;  // the text at the start of the lock file
  int cleanup_slot_ = -1;
};

}  // namespace strellix::cli
