#include "cli/output_dir.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/command_failure.h"
#include "cli/segment_options.h"

namespace strellix::cli {

namespace {

namespace fs = std::filesystem;

std::string numbered(const char* stem, long long number) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%06lld.png", stem, number);
  return name;
}

// `stem`, an optional minus, digits, ".png".
bool is_numbered(const std::string& name, const std::string& stem) {
  if (name.size() <= stem.size() + 4 || name.compare(0, stem.size(), stem) != 0 ||
      name.compare(name.size() - 4, 4, ".png") != 0)
    return false;
  std::size_t at = stem.size();
  if (name[at] == '-') ++at;
  const std::size_t end = name.size() - 4;
  if (at == end) return false;
  for (; at < end; ++at)
    if (!std::isdigit(static_cast<unsigned char>(name[at]))) return false;
  return true;
}

// What an interrupted writer may leave of the file `target`: ".NAME.tmp.PID"
// (atomic files) or ".tmp.PID.NAME" (videos).
bool is_leftover_of(const std::string& name, const std::string& target) {
  const std::string atomic_head = "." + target + ".tmp.";
  const std::string video_head = ".tmp.";
  if (name.compare(0, atomic_head.size(), atomic_head) == 0) return true;
  if (name.compare(0, video_head.size(), video_head) != 0 ||
      name.size() <= target.size() + video_head.size() ||
      name.compare(name.size() - target.size(), target.size(), target) != 0)
    return false;
  const std::string pid = name.substr(video_head.size(), name.size() - target.size() - video_head.size());
  if (pid.size() < 2 || pid.back() != '.') return false;
  for (std::size_t k = 0; k + 1 < pid.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(pid[k]))) return false;
  return true;
}

bool is_leftover_of_videos(const std::string& name, const SegmentOptions& o) {
  return (!o.mask_video.empty() && is_leftover_of(name, o.mask_video)) ||
         (!o.overlay.empty() && is_leftover_of(name, o.overlay));
}

// Files of an earlier run that --overwrite takes away: its own names, the
// videos this run is to write, and what interrupted writers left.
bool belongs_to_a_run(const std::string& name, const SegmentOptions& o) {
  if (is_run_file(name) || name == o.mask_video || name == o.overlay || is_leftover_of_videos(name, o))
    return true;
  if (name.size() < 2 || name[0] != '.') return false;
  const std::size_t tmp = name.rfind(".tmp.");
  return tmp != std::string::npos && tmp > 1 && is_run_file(name.substr(1, tmp - 1));
}

// The directory the input's files are in, "" for a camera or a stream.
std::string input_directory(const InputLocation& location) {
  switch (location.kind) {
    case InputKind::pattern:
      return location.directory;
    case InputKind::directory:
      return location.text;
    case InputKind::video:
      return fs::path(location.absolute).parent_path().string();
    default:
      return "";
  }
}

bool same_directory(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, error) && !error;
}

// Empty but for the lock file, which the run holding OUTDIR has made.
bool is_empty_directory(const std::string& dir) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error))
    if (entry.path().filename() != LOCK_FILE) return false;
  return !error;
}

// "out is a symbolic link to /mnt/gone, which does not exist": what
// making OUTDIR would only call "File exists". Any directory on the way
// may be such a link.
void refuse_dangling_link(const std::string& dir) {
  fs::path on_the_way;
  for (const fs::path& part : fs::path(dir)) {
    on_the_way /= part;
    struct stat info;
    if (lstat(on_the_way.c_str(), &info) != 0) return;  // missing: made as OUTDIR's parents
    if (!S_ISLNK(info.st_mode) || stat(on_the_way.c_str(), &info) == 0) continue;
    std::error_code error;
    const std::string target = fs::read_symlink(on_the_way, error).string();
    throw usage_error(on_the_way.string() + " is a symbolic link to " +
                      (error ? std::string("a place") : target) +
                      ", which does not exist: make that directory first, or choose another OUTDIR");
  }
}

void remove_or_fail(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
  if (error) throw CommandFailure(EXIT_OUTPUT, "cannot remove " + path.string() + ": " + error.message());
}

}  // namespace

std::string mask_file_name(long long number) {
  return numbered("mask", number);
}

std::string rendering_file_name(long long number) {
  return numbered("background", number);
}

bool is_run_file(const std::string& name) {
  return name == BACKGROUND_FILE || name == RUN_RECORD_FILE || name == CHECKPOINT_STATE_FILE ||
         name == CHECKPOINT_RUN_FILE || is_numbered(name, "mask") || is_numbered(name, "background");
}

std::string output_path(const SegmentOptions& o, const std::string& name) {
  return (fs::path(o.output_dir) / name).string();
}

bool check_output_dir_place(const SegmentOptions& o) {
  const std::string& dir = o.output_dir;
  if (dir.empty()) throw usage_error("-o needs a directory");
  struct stat info;
  if (stat(dir.c_str(), &info) != 0) {
    if (errno != ENOENT) throw usage_error("cannot use " + dir + " as OUTDIR: " + std::strerror(errno));
    refuse_dangling_link(dir);
    if (o.resume) throw usage_error("--resume: " + dir + " does not exist, so there is no run to continue");
    return false;
  }
  if (!S_ISDIR(info.st_mode)) throw usage_error(dir + " exists and is not a directory");
  if (same_directory(dir, input_directory(o.location)))
    throw usage_error(dir +
                      " is the directory of the input; choose another OUTDIR, so that the input stays "
                      "as it is");
  return true;
}

void check_output_dir(const SegmentOptions& o) {
  if (!check_output_dir_place(o)) return;
  const std::string& dir = o.output_dir;
  if (o.resume) {
    if (!fs::exists(output_path(o, CHECKPOINT_STATE_FILE)) ||
        !fs::exists(output_path(o, CHECKPOINT_RUN_FILE)))
      throw usage_error(
          "--resume: no checkpoint in " + dir +
          " (the run there completed, or stopped before "
          "its first checkpoint, or ran without --checkpoint-every); start again with --overwrite");
    return;
  }
  if (!o.overwrite && !is_empty_directory(dir))
    throw usage_error(dir +
                      " is not empty: choose a new OUTDIR, or add --overwrite to replace the files of an "
                      "earlier run there, or --resume to continue an interrupted one");
}

void prepare_output_dir(const SegmentOptions& o) {
  std::error_code error;
  fs::create_directories(o.output_dir, error);
  if (error) throw CommandFailure(EXIT_OUTPUT, "cannot create " + o.output_dir + ": " + error.message());
  if (!o.overwrite && !o.resume) return;
  std::vector<fs::path> stale;
  for (const fs::directory_entry& entry : fs::directory_iterator(o.output_dir, error)) {
    const std::string name = entry.path().filename().string();
    if (o.resume ? is_leftover_of_videos(name, o) : belongs_to_a_run(name, o)) stale.push_back(entry.path());
  }
  if (error) throw CommandFailure(EXIT_OUTPUT, "cannot read " + o.output_dir + ": " + error.message());
  for (const fs::path& path : stale) remove_or_fail(path);
}

}  // namespace strellix::cli
