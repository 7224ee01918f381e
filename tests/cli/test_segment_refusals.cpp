// Command lines `strellix segment` cannot carry out are refused before
// anything is read or written, with one message that says why; a frame
// that cannot be used stops the run with its outputs so far complete;
// OUTDIR never mixes the files of two runs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
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
  // An OUTDIR that is a link to nowhere is named as such.
  fs::create_directory_symlink(s.path("gone"), s.path("dangling"));
  const RunResult dangling = run_cli({"segment", pattern, "-o", s.path("dangling")});
  EXPECT_EQ(dangling.exit_code, 2);
  EXPECT_NE(dangling.err.find("dangling is a symbolic link to " + s.path("gone") + ", which does not exist"),
            std::string::npos)
      << dangling.err;
  EXPECT_FALSE(file_exists(s.path("gone")));

  // One message for one mistake: not also one for the value it displaced,
  // nor for the words after a misspelt command.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"segment", pattern, "-o", out, "--treshold", "0.01"},
        std::vector<std::string>{"segment", "--treshold", "0.01", pattern, "-o", out},
        std::vector<std::string>{"segmnet", pattern, "-o", out}}) {
    const RunResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("(did you mean "), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;  // and "Run '... --help'"
  }
  const RunResult two = run_cli({"segment", pattern, "-o", out, "--quite", "extra"});
  EXPECT_NE(two.err.find("--quite (did you mean --quiet?)\nstrellix segment: unexpected argument extra"),
            std::string::npos)
      << two.err;

  // A range of one frame is a range.
  const RunResult one = run_cli({"segment", pattern, "-o", out, "--start", "5", "--end", "5", "-q"});
  EXPECT_EQ(one.exit_code, 0) << one.err;
  EXPECT_EQ(count_masks(out), 1);
  EXPECT_FALSE(read_numbered_mask(out, "mask", 5).empty());
}

// One run at a time in an OUTDIR: a second one, into it, continuing it or
// replacing it, is refused at once, naming the run that holds it; the
// first goes on undisturbed and leaves no lock behind. An OUTDIR where
// nothing can be written is found out before any frame is read.
TEST(SegmentRefusals, OneRunPerOutdirAndAnOutdirThatCannotBeWrittenIsFoundAtOnce) {
  const std::string& scene = sample_scene(300, 160, 120);
  ScratchDir s("cli-lock");
  const std::string out = s.path("out");
  const pid_t first = start_cli({"segment", scene + "%d.png", "-o", out, "--median-frames", "10"});
  ASSERT_TRUE(wait_for_file(out + "/mask000001.png", 60));
  kill(first, SIGSTOP);  // holds OUTDIR, however fast the machine
  for (const char* how : {"", "--overwrite", "--resume"}) {
    std::vector<std::string> args = {"segment", scene + "%d.png", "-o", out, "--median-frames", "10"};
    if (*how != '\0') args.push_back(how);
    const RunResult r = run_cli(args);
    EXPECT_EQ(r.exit_code, 2) << how;
    EXPECT_NE(r.err.find(out + " is in use by another run of strellix (pid " + std::to_string(first) +
                         ", started "),
              std::string::npos)
        << how << ": " << r.err;
    EXPECT_NE(r.err.find("input " + scene + "%d.png"), std::string::npos) << r.err;
  }
  kill(first, SIGCONT);
  int status = 0;
  waitpid(first, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(count_masks(out), 300);
  EXPECT_FALSE(file_exists(out + "/.strellix.lock"));

  // Read-only: a file system mounted so as root (who may write anywhere
  // else), a directory without write permission otherwise.
  const std::string locked = s.path("read-only");
  fs::create_directory(locked);
  const bool mounted = geteuid() == 0 && mount("tmpfs", locked.c_str(), "tmpfs", MS_RDONLY, "size=1m") == 0;
  if (geteuid() != 0) chmod(locked.c_str(), 0555);
  if (mounted || geteuid() != 0) {
    const RunResult r = run_cli({"segment", scene + "%d.png", "-o", locked, "--median-frames", "10"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.err.find("cannot write in " + locked + ": " +
                         (mounted ? "Read-only file system" : "Permission denied")),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(directory_entries(locked).empty());
  }
  if (mounted) umount(locked.c_str());
  chmod(locked.c_str(), 0755);
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
