// Command lines `strellix segment` cannot carry out are refused before
// anything is read or written, with a message that says why; a frame that
// cannot be used stops the run with its outputs so far complete; OUTDIR
// never mixes the files of two runs.
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/cli_runs.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

int count_masks(const std::string& dir) {
  int count = 0;
  for (const std::string& name : directory_entries(dir)) count += name.rfind("mask", 0) == 0;
  return count;
}

}  // namespace

TEST(SegmentRefusals, EachSaysWhyAndWritesNothing) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-refuse");
  const std::string pattern = scene + "%d.png";
  const std::string out = s.path("out");
  touch_file(s.path("clip.mp4"));  // exists, not a video
  const struct {
    std::vector<std::string> args;
    int code;
    std::string says;
  } cases[] = {
      {{pattern, "--ennd", "5"}, 2, "unknown option --ennd (did you mean --end?)"},
      {{pattern, "-x", "5"}, 2, "unknown option -x"},
      {{pattern, "--layers"}, 2, "--layers"},
      {{pattern, "--layers", "0"}, 2, "--layers: needs a whole number from 1"},
      {{pattern, "--median-frames", "12x"}, 2, "--median-frames"},
      {{pattern, "--threshold", "nan"}, 2, "--threshold"},
      {{pattern, "--start", "9", "--end", "5"}, 2, "--end 5 comes before --start 9"},
      {{pattern, "--overlay", "../overlay.mp4"}, 2, "inside OUTDIR"},
      {{pattern, "--resume"}, 2, "no run to continue"},
      {{scene + "1.png"}, 2, "a pattern such as \"" + scene + "%d.png\""},
      {{"rtsp://127.0.0.1:9/x", "--checkpoint-every", "5"}, 2, "cannot be resumed"},
      {{s.path("absent.mp4")}, 1, "No such file or directory"},
      {{s.path("clip.mp4")}, 1, "not a video"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"segment", "-o", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = run_cli(args);
    const std::string& shown = c.args.back();
    EXPECT_EQ(r.exit_code, c.code) << shown << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << shown << "\n" << r.err;
    EXPECT_FALSE(file_exists(out)) << shown;
  }
}

TEST(SegmentRefusals, FullOutdirIsRefusedAndOverwriteLeavesNoMaskOfTheEarlierRun) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-outdir");
  const std::string out = s.path("out");
  ASSERT_EQ(run_cli({"segment", scene + "%d.png", "-o", out, "--median-frames", "5"}).exit_code, 0);
  ASSERT_EQ(count_masks(out), 40);
  std::ofstream(out + "/notes.txt") << "mine\n";

  RunResult r = run_cli({"segment", scene + "%d.png", "-o", out, "--end", "10", "--median-frames", "5"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("is not empty"), std::string::npos) << r.err;
  EXPECT_EQ(count_masks(out), 40);

  r = run_cli({"segment", scene + "%d.png", "-o", out, "--end", "10", "--median-frames", "5", "--overwrite"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(count_masks(out), 10);
  EXPECT_EQ(read_file(out + "/notes.txt"), "mine\n");
  EXPECT_NE(read_file(out + "/run.json").find("\"last\": 10"), std::string::npos);

  // The input's own directory is never an OUTDIR, even with --overwrite.
  const std::string scene_dir = fs::path(scene).parent_path().string();
  r = run_cli({"segment", scene + "%d.png", "-o", scene_dir, "--overwrite"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("directory of the input"), std::string::npos) << r.err;
}

TEST(SegmentRefusals, UnusableFrameStopsTheRunWithTheMasksBeforeItComplete) {
  const std::string& scene = sample_scene(40, 48, 32);
  ScratchDir s("cli-broken");
  for (int k = 1; k <= 20; ++k)
    fs::copy_file(scene + std::to_string(k) + ".png", s.path("f" + std::to_string(k) + ".png"));
  std::ofstream(s.path("f15.png")) << "not a picture";
  const RunResult r = run_cli({"segment", s.path("f%d.png"), "-o", s.path("out"), "--median-frames", "5"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_NE(r.err.find("f15.png"), std::string::npos) << r.err;
  EXPECT_EQ(count_masks(s.path("out")), 14);
  EXPECT_NE(read_file(s.path("out/run.json")).find("\"status\": \"failed\""), std::string::npos);
  // In the median's frames, it is a frame of the median that cannot be used.
  EXPECT_EQ(run_cli({"segment", s.path("f%d.png"), "-o", s.path("out2"), "--median-frames", "20"}).exit_code,
            1);
}
