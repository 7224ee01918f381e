#include "support/scratch_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace {

std::string made_or_thrown(const std::string& tag) {
  std::string dir = make_temp_dir(tag);
  if (dir.empty()) throw std::runtime_error("cannot make a scratch directory for " + tag);
  return dir;
}

}  // namespace

ScratchDir::ScratchDir(const std::string& tag) : root(made_or_thrown(tag)) {}

ScratchDir::~ScratchDir() {
  remove_tree(root);
}

std::string make_temp_dir(const std::string& tag) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/strellix-" + tag + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) return {};
  return std::string(buffer.data());
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}
