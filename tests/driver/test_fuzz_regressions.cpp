// Replays the switch harness's seed inputs and every input it ever crashed
// on (tests/data/fuzz/switches/), with switch errors turned into exceptions
// as the harness does, and checks that hook itself. Frame inputs that once
// stopped the frame harness are also given to the whole program.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../../fuzz/switch_input.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

namespace {

namespace fs = std::filesystem;

// Puts the process-ending hook back whatever the test does.
struct ThrowingExitHook {
  void (*saved)(int) = switch_exit_hook;
  ThrowingExitHook() { install_throwing_exit_hook(); }
  ~ThrowingExitHook() { switch_exit_hook = saved; }
};

std::vector<std::string> files_in(const std::vector<std::string>& dirs) {
  std::vector<std::string> files;
  for (const std::string& dir : dirs) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> replay_inputs() {
  const std::string root = STRELLIX_SOURCE_DIR;
  return files_in({root + "/fuzz/corpus/switches", root + "/tests/data/fuzz/switches"});
}

}  // namespace

TEST(FuzzReplay, SwitchInputsOnlyEverDropEntries) {
  ThrowingExitHook hook;
  const std::vector<std::string> files = replay_inputs();
  ASSERT_FALSE(files.empty());
  testing::internal::CaptureStderr();
  for (const std::string& file : files) {
    const std::string bytes = read_file(file);
    const char* problem =
        switch_input_problem(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(problem, nullptr) << file << ": " << problem;
  }
  testing::internal::GetCapturedStderr();
}

TEST(SwitchExitHook, ErrorGoesThroughTheHookWithCodeTwoAfterTheMessage) {
  ThrowingExitHook hook;
  std::vector<std::string> text = {"Strellixplus", "seq", "-n", "12abc"};
  std::vector<char*> argv;
  for (std::string& s : text) argv.push_back(s.data());
  argv.push_back(nullptr);
  int argc = 4;
  testing::internal::CaptureStderr();
  int code = -1;
  try {
    Lread_iswitch(argc, argv.data(), "-n", 5);
  } catch (const SwitchExit& e) {
    code = e.code;
  }
  // The message is out before the hook runs: a harness loses nothing.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Lread_iswitch: Manca arg. per \"-n\"\n");
  EXPECT_EQ(code, 2);
}

TEST(SwitchExitHookDeathTest, HookThatReturnsStillEndsTheProcess) {
  void (*saved)(int) = switch_exit_hook;
  switch_exit_hook = [](int) {};
  std::vector<std::string> text = {"Strellixplus", "seq", "-end"};
  std::vector<char*> argv;
  for (std::string& s : text) argv.push_back(s.data());
  argv.push_back(nullptr);
  int argc = 3;
  EXPECT_EXIT(Lread_iswitch(argc, argv.data(), "-end", 2), testing::ExitedWithCode(2),
              "Lread_switch: Manca arg. dopo \"-end\"");
  switch_exit_hook = saved;
}

TEST(FuzzReplay, KeptFrameFindingsEndTheRunWithAMessage) {
  const std::vector<std::string> files =
      files_in({std::string(STRELLIX_SOURCE_DIR) + "/tests/data/fuzz/grab_frame"});
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    const ScratchDir scratch("fuzz-frame");
    const std::string& dir = scratch.root;
    const std::string seq = dir + "/seq";
    fs::copy_file(file, seq + "1.png");
    RunResult r = run_strellix({}, seq, dir, 60);
    EXPECT_EQ(r.signal, 0) << file << "\n" << r.err;
    EXPECT_EQ(r.exit_code, 1) << file << "\n" << r.err;
    EXPECT_EQ(r.out, "ATTENTION: Cannot grab file " + seq + "1.png") << file;
    EXPECT_NE(r.err.find(seq + "1.png"), std::string::npos) << file << "\n" << r.err;
  }
}
