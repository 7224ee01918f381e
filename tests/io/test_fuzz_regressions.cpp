// Replays the fuzzing harnesses' seed inputs and every input they ever
// crashed on (tests/data/fuzz/<harness>/) through the same checks, so that a
// fixed fault stays fixed and the sanitizer build sees these inputs too.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../../fuzz/frame_input.h"
#include "../../fuzz/pgm_input.h"
#include "../../fuzz/state_input.h"
#include "support/run_binary.h"

using namespace strellix;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> replay_inputs(const std::string& harness) {
  std::vector<std::string> files;
  const std::string root = STRELLIX_SOURCE_DIR;
  for (const std::string& dir :
       std::vector<std::string>{root + "/fuzz/corpus/" + harness, root + "/tests/data/fuzz/" + harness}) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

template <class Check>
void replay_all(const std::string& harness, Check check) {
  const std::vector<std::string> files = replay_inputs(harness);
  ASSERT_FALSE(files.empty()) << "no inputs kept for " << harness;
  for (const std::string& file : files) {
    const std::string bytes = read_file(file);
    const char* problem = check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(problem, nullptr) << file << ": " << problem;
  }
}

}  // namespace

TEST(FuzzReplay, SearchMaskInputsKeepTheReaderPromises) {
  replay_all("read_pgm", pgm_input_problem);
}

TEST(FuzzReplay, FrameInputsAreRefusedOrConvertSoundly) {
  replay_all("grab_frame", frame_input_problem);
}

TEST(FuzzReplay, StateFileInputsAreRefusedOrReadBackExactly) {
  replay_all("state_file", state_input_problem);
}
