// Scratch space for tests that write files.
#pragma once

#include <string>

// A new empty directory under the system's temporary directory, named after
// `tag`, removed with everything in it when the object goes. Tests that
// need more structure derive from it and add their paths.
struct ScratchDir {
  // Throws std::runtime_error when no directory can be made.
  explicit ScratchDir(const std::string& tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // root + "/" + name.
  std::string path(const std::string& name) const { return root + "/" + name; }

  const std::string root;
};

// The same directory without the owner: its path, or "" when none can be
// made; remove_tree removes it (or any path) with everything under it.
std::string make_temp_dir(const std::string& tag);
void remove_tree(const std::string& path);
