#include "support/cli_runs.h"

#include <fcntl.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>

#include "support/frames.h"
#include "support/scratch_dir.h"

RunResult run_cli(const std::vector<std::string>& args, int timeout_seconds) {
  std::vector<std::string> command = {STRELLIX_CLI_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  return run_binary(command, "/", timeout_seconds);
}

pid_t start_cli(const std::vector<std::string>& args) {
  std::vector<std::string> command = {STRELLIX_CLI_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : command) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int null_device = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(null_device, fd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

bool wait_for_file(const std::string& path, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!file_exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(500);
  }
  return true;
}

const std::string& sample_scene(int frames, int width, int height) {
  // Kept until the test program ends: several tests read the same scene.
  static std::map<std::string, std::pair<std::unique_ptr<ScratchDir>, std::string>> scenes;
  const std::string key = std::to_string(frames) + "x" + std::to_string(width) + "x" + std::to_string(height);
  auto found = scenes.find(key);
  if (found != scenes.end()) return found->second.second;
  auto dir = std::make_unique<ScratchDir>("cli-scene");
  const RunResult made = run_binary(
      {std::string(STRELLIX_TOOLS_DIR) + "/make_sample_scene", dir->root, "--frames", std::to_string(frames),
       "--width", std::to_string(width), "--height", std::to_string(height)},
      "/");
  if (made.exit_code != 0) throw std::runtime_error("make_sample_scene failed: " + made.err);
  const std::string prefix = dir->root + "/frame";
  return scenes.emplace(key, std::make_pair(std::move(dir), prefix)).first->second.second;
}

cv::Mat read_numbered_mask(const std::string& dir, const std::string& stem, long long k) {
  char name[64];
  std::snprintf(name, sizeof name, "%06lld.png", k);
  const std::string path = dir + "/" + stem + name;
  if (!file_exists(path)) return cv::Mat();
  return cv::imread(path, cv::IMREAD_UNCHANGED);
}

int differing_masks(const std::string& dir_a, const std::string& stem_a, const std::string& dir_b,
                    const std::string& stem_b, long long first, long long last) {
  int differing = 0;
  for (long long k = first; k <= last; ++k) {
    const cv::Mat a = read_numbered_mask(dir_a, stem_a, k);
    if (a.empty() || !same_pixels(a, read_numbered_mask(dir_b, stem_b, k))) ++differing;
  }
  return differing;
}

double json_value(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return std::nan("");
  return std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}
