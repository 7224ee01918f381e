// `strellix probe` sizes a run as `strellix segment` would count it: the
// median shortened to the frames there are, none with a seed image; and it
// refuses what segment would refuse, before anything is printed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "strellix/strellix.hpp"
#include "support/cli_runs.h"
#include "support/scratch_dir.h"

TEST(Probe, SizesARunAsSegmentCountsIt) {
  const std::string pattern = sample_scene(40, 48, 32) + "%d.png";
  const RunResult r = run_cli({"probe", pattern, "--start", "5", "--end", "30", "--layers", "3", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(json_value(r.out, "width"), 48);
  EXPECT_EQ(json_value(r.out, "height"), 32);
  EXPECT_EQ(json_value(r.out, "first"), 5);
  EXPECT_EQ(json_value(r.out, "frames"), 26);
  // 26 frames: the median takes them all, not the default 100.
  EXPECT_EQ(json_value(r.out, "median_frames"), 26);
  strellix::Parameters p;
  p.layers = 3;
  p.median_frames = 26;
  const double model = static_cast<double>(strellix::estimate_memory(p, 48, 32, false));
  EXPECT_EQ(json_value(r.out, "bytes"), strellix::estimate_memory(p, 48, 32, true) + 26.0 * 48 * 32 * 3);

  const RunResult seeded = run_cli({"probe", pattern, "--layers", "3", "--background", "seed.png", "--json"});
  ASSERT_EQ(seeded.exit_code, 0) << seeded.err;
  EXPECT_EQ(json_value(seeded.out, "median_frames"), 0);
  EXPECT_EQ(json_value(seeded.out, "bytes"), model);

  // What one more layer or median frame adds, for sizing other sets.
  p.layers = 4;
  EXPECT_EQ(json_value(r.out, "per_layer"), strellix::estimate_memory(p, 48, 32, false) - model);
  p.layers = 3;
  p.median_frames = 27;
  EXPECT_EQ(json_value(r.out, "per_median_frame"),
            strellix::estimate_memory(p, 48, 32, true) + 27.0 * 48 * 32 * 3 - json_value(r.out, "bytes"));
  // The fast numerics keep a smaller model.
  const RunResult fast = run_cli(
      {"probe", pattern, "--layers", "3", "--background", "seed.png", "--numerics", "fast", "--json"});
  ASSERT_EQ(fast.exit_code, 0) << fast.err;
  p.numerics = strellix::Numerics::fast;
  EXPECT_EQ(json_value(fast.out, "bytes"), static_cast<double>(strellix::estimate_memory(p, 48, 32, false)));
  EXPECT_LT(json_value(fast.out, "bytes"), model);

  const RunResult text = run_cli({"probe", pattern});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("frame size: 48x32\nframes: 40, from 1\n"), std::string::npos) << text.out;
}

TEST(Probe, RefusesWhatSegmentRefuses) {
  const std::string pattern = sample_scene(40, 48, 32) + "%d.png";
  ScratchDir s("cli-probe");
  touch_file(s.path("clip.mp4"));  // exists, not a video
  const struct {
    std::vector<std::string> args;
    int code;
    std::string says;
  } cases[] = {
      {{s.path("absent.mp4")}, 1, "No such file or directory"},
      {{s.path("clip.mp4")}, 1, "not a video"},
      {{pattern, "--start", "41"}, 1, "no frame"},
      {{pattern, "--layers", "0"}, 2, "--layers"},
      {{pattern, "--overlay", "x.mp4"}, 2, "--overlay"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"probe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, c.code) << c.args.back() << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args.back() << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args.back();
  }
}

// The files a run reads, listed without decoding one: a damaged first frame
// does not stop the list, which a batch reads every time it starts.
TEST(Probe, ListsTheFilesARunReadsWithoutReadingThem) {
  ScratchDir s("cli-probe-files");
  for (const char* name : {"in07.png", "in08.png", "in09.png", "in11.png"}) touch_file(s.path(name));
  const RunResult r = run_cli({"probe", s.path("in%02d.png"), "--files", "--end", "10"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, s.path("in07.png") + "\n" + s.path("in08.png") + "\n" + s.path("in09.png") + "\n");
  const RunResult directory = run_cli({"probe", s.root, "--files", "--json", "--start", "4"});
  ASSERT_EQ(directory.exit_code, 0) << directory.err;
  EXPECT_EQ(directory.out, "{\"files\": [\n  \"" + s.path("in11.png") + "\"\n]}\n");
  EXPECT_EQ(run_cli({"probe", "rtsp://camera.invalid/x", "--files", "--json"}).out, "{\"files\": []}\n");
  EXPECT_EQ(run_cli({"probe", s.path("in%03d.png"), "--files"}).exit_code, 1);
}
