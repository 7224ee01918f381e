// End-to-end: starts that end before any frame is processed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"
#include "support/usage_text.h"

namespace {

// The usage text: fixed head, a five-line indented reference block and an
// empty line, then the fixed tail. Returns what follows the text.
std::string expect_usage_and_rest(const std::string& out) {
  const std::string head = USAGE_HEAD;
  EXPECT_EQ(out.compare(0, head.size(), head), 0) << out;
  std::size_t pos = head.size();
  for (int line = 0; line < 5; ++line) {
    EXPECT_EQ(out.compare(pos, 2, "  "), 0) << "reference line " << line;
    std::size_t end = out.find('\n', pos);
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos) return {};
    EXPECT_GT(end, pos + 2) << "reference line " << line << " is empty";
    pos = end + 1;
  }
  EXPECT_EQ(out.compare(pos, 1, "\n"), 0);
  pos += 1;
  const std::string tail = USAGE_TAIL;
  EXPECT_EQ(out.compare(pos, tail.size(), tail), 0) << out.substr(pos);
  return pos + tail.size() <= out.size() ? out.substr(pos + tail.size()) : std::string();
}

}  // namespace

TEST(RunUsage, NoArgumentsPrintsUsageAndPromptWithoutBlocking) {
  ScratchDir dir("cli");
  RunResult r = run_binary({STRELLIX_BINARY}, dir.root, 60);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(expect_usage_and_rest(r.out), "Hit any key to continue...\n");
  EXPECT_EQ(r.err, "");
}

TEST(RunUsage, HelpAloneEndsWithoutPrompt) {
  ScratchDir dir("cli");
  for (const char* help : {"-h", "--help"}) {
    RunResult r = run_binary({STRELLIX_BINARY, help}, dir.root, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_code, 0) << help;
    EXPECT_EQ(expect_usage_and_rest(r.out), "") << help;
  }
}

TEST(RunSwitches, UnusableValuesEndWithCodeTwoAndTheReaderMessage) {
  ScratchDir dir("cli");
  struct Case {
    std::vector<std::string> switches;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-end"}, "Lread_switch: Manca arg. dopo \"-end\"\n"},
      {{"-n", "12abc"}, "Lread_iswitch: Manca arg. per \"-n\"\n"},
      {{"-ini", "-end", "5"}, "Lread_iswitch: Manca arg. per \"-ini\"\n"},
      {{"-lr", "0.05x"}, "Lread_dswitch: Manca arg. per \"-lr\"\n"},
      {{"-SmaskMOD", "-f"}, "Lread_iswitch: Manca arg. per \"-SmaskMOD\"\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_strellix(c.switches, dir.path("seq"), dir.root, 60);
    EXPECT_EQ(r.exit_code, 2) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST(RunSwitches, ValuesTheRunCannotUseAreRefusedBeforeAnyFileIsRead) {
  ScratchDir dir("cli");
  // A valid frame exists, so only the refusal can stop these runs.
  ASSERT_TRUE(write_frame(dir.path("seq"), 1, solid_frame(8, 6, {10, 20, 30})));
  struct Case {
    std::vector<std::string> switches;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-n", "0"}, "Strellixplus: -n must be at least 1 (got 0)\n"},
      {{"-n", "-3"}, "Strellixplus: -n must be at least 1 (got -3)\n"},
      {{"-w1d", "4"}, "Strellixplus: -w1d must be between 0 and 3 (got 4)\n"},
      {{"-w1d", "-1"}, "Strellixplus: -w1d must be between 0 and 3 (got -1)\n"},
      {{"-w2d", "5"}, "Strellixplus: -w2d must be between 0 and 4 (got 5)\n"},
      {{"-w2d", "-1"}, "Strellixplus: -w2d must be between 0 and 4 (got -1)\n"},
      {{"-F", "0"}, "Strellixplus: -F must be at least 1 (got 0)\n"},
      {{"-f", "-skip", "0"}, "Strellixplus: -skip must be at least 1 (got 0)\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_strellix(c.switches, dir.path("seq"), dir.root, 60);
    EXPECT_EQ(r.exit_code, 2) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "") << c.err;
  }
  EXPECT_FALSE(file_exists(dir.path("bin000001.png")));
  EXPECT_FALSE(file_exists(dir.path("InitialModel.png")));
}

TEST(RunSwitches, ValuesOnlyRefusedWhereTheyMatter) {
  ScratchDir dir("cli");
  const std::string seq = dir.path("seq");
  ASSERT_TRUE(write_frames(seq, 1, {solid_frame(8, 6, {10, 20, 30}), solid_frame(8, 6, {10, 20, 30})}));
  // -F is not used with -Boot, -skip not with PNG input.
  RunResult first = run_strellix({"-F", "2"}, seq, dir.root, 60);
  ASSERT_EQ(first.exit_code, 0) << first.err;
  RunResult r = run_strellix({"-Boot", "1", "-F", "0", "-skip", "0"}, seq, dir.root, 60);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Number of initial frames for model initialization (F):        0\n"),
            std::string::npos);
}

TEST(RunStart, MissingFirstFrameEndsWithCodeOneAndNoOutputFile) {
  ScratchDir dir("cli");
  const std::string seq = dir.path("seq");
  RunResult r = run_strellix({"-ini", "7"}, seq, dir.root, 60);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "ATTENTION: Cannot grab file " + seq + "7.png");
  EXPECT_FALSE(file_exists(dir.path("bin000007.png")));
}
