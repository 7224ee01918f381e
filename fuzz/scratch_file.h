// One scratch file per process and tag: the readers under test take a path,
// so each input is written to it before it is read back.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace strellix {

inline std::map<std::string, std::string>& scratch_paths() {
  static std::map<std::string, std::string> paths;
  return paths;
}

inline void remove_scratch_files() {
  for (const auto& entry : scratch_paths()) std::remove(entry.second.c_str());
}

// In memory-backed /dev/shm when there is one: a fuzzer writes the file
// hundreds of thousands of times.
inline std::string scratch_directory() {
  struct stat info;
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// A path private to this process, removed when the process exits.
inline const std::string& scratch_path(const char* tag) {
  auto& paths = scratch_paths();
  auto found = paths.find(tag);
  if (found != paths.end()) return found->second;
  if (paths.empty()) std::atexit(remove_scratch_files);
  const std::string path = scratch_directory() + "/strellix-fuzz-" + std::to_string(getpid()) + "-" + tag;
  return paths.emplace(tag, path).first->second;
}

// Replaces the scratch file's contents; false when it cannot be written.
inline bool write_scratch(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace strellix
