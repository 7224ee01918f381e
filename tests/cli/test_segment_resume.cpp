// A run killed outright (SIGKILL: no clean-up at all), or stopped by a
// full disk, and resumed from its last checkpoint writes the masks of a
// run that was never interrupted; a checkpoint that is not the run's is
// refused before anything is written.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "strellix/strellix.hpp"
#include "support/cli_runs.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// Frames of `size` whose every pixel is noisy and a block that moves: the
// masks after a frame depend on every frame before it, so that a resume
// that applies a frame twice, or skips one, shows in them.
std::string noisy_scene(const std::string& dir, int frames, cv::Size size) {
  fs::create_directories(dir);
  cv::RNG rng(7);
  cv::Mat base(size, CV_8UC3);
  rng.fill(base, cv::RNG::UNIFORM, 40, 200);
  for (int k = 1; k <= frames; ++k) {
    cv::Mat frame = base.clone(), noise(size, CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 24);
    frame += noise;
    frame(cv::Rect((3 * k) % (size.width - 12), size.height / 3, 12, 12)).setTo(cv::Scalar(20, 220, 240));
    cv::imwrite(dir + "/f" + std::to_string(k) + ".png", frame);
  }
  return dir + "/f%d.png";
}

}  // namespace

TEST(SegmentResume, KilledRunResumedGivesTheMasksOfAnUninterruptedOne) {
  const std::string& scene = sample_scene(300, 160, 120);
  ScratchDir s("cli-resume");
  const std::vector<std::string> run = {"segment",      scene + "%d.png",     "--median-frames",
                                        "10",           "--checkpoint-every", "10",
                                        "--mask-video", "masks.mkv"};
  auto with = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = run;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };

  // Killed as soon as its first checkpoint is there, hundreds of frames
  // before its end.
  const pid_t pid = start_cli(with({"-o", s.path("killed")}));
  wait_for_file(s.path("killed/checkpoint.state"), 120);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";

  // Another run, or other options, cannot take over the checkpoint.
  RunResult r = run_cli(with({"-o", s.path("killed"), "--resume", "--layers", "4"}));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--layers 5, this command 4"), std::string::npos) << r.err;
  // Nor can a state file of other parameters copied in beside its
  // description: refused before anything is written.
  const std::string state = s.path("killed/checkpoint.state");
  fs::rename(state, s.path("own.state"));
  strellix::Parameters other;
  other.layers = 2;
  other.threshold = 0.05;
  other.median_frames = 10;
  other.shadow_value = 127;
  strellix::Subtractor foreign(other);
  foreign.initialize({cv::imread(scene + "1.png")});
  foreign.save(state);
  const std::vector<std::string> before = directory_entries(s.path("killed"));
  r = run_cli(with({"-o", s.path("killed"), "--resume"}));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("not this run's checkpoint: it holds --layers 2, --threshold 0.05, --shadow-value "
                       "127, where the run has --layers 5, --threshold 0.005, --shadow-value 0;"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(directory_entries(s.path("killed")), before);
  fs::rename(s.path("own.state"), state);

  r = run_cli(with({"-o", s.path("killed"), "--resume"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find(", resumed after frame "), std::string::npos) << r.out;
  ASSERT_EQ(run_cli(with({"-o", s.path("whole")})).exit_code, 0);
  EXPECT_EQ(differing_masks(s.path("killed"), "mask", s.path("whole"), "mask", 1, 300), 0);
  EXPECT_EQ(cv::VideoCapture(s.path("killed/masks.mkv"), cv::CAP_FFMPEG).get(cv::CAP_PROP_FRAME_COUNT), 300);
  // Complete: no checkpoint, no temporary file, and nothing left to resume.
  for (const std::string& name : directory_entries(s.path("killed")))
    EXPECT_TRUE(name.rfind("mask", 0) == 0 || name == "background.png" || name == "run.json") << name;
  r = run_cli(with({"-o", s.path("killed"), "--resume"}));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("no checkpoint"), std::string::npos) << r.err;
}

// SIGTERM finishes the frame in hand, completes the videos and run.json,
// leaves no temporary file, and ends the process by that signal.
TEST(SegmentResume, TerminatedRunEndsCleanlyByTheSignal) {
  const std::string& scene = sample_scene(300, 160, 120);
  ScratchDir s("cli-terminate");
  const pid_t pid = start_cli({"segment", scene + "%d.png", "-o", s.path("out"), "--median-frames", "10",
                               "--mask-video", "masks.mkv"});
  wait_for_file(s.path("out/mask000020.png"), 120);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal came";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  const std::string record = read_file(s.path("out/run.json"));
  EXPECT_NE(record.find("\"status\": \"interrupted\""), std::string::npos) << record;
  const double frames =
      cv::VideoCapture(s.path("out/masks.mkv"), cv::CAP_FFMPEG).get(cv::CAP_PROP_FRAME_COUNT);
  EXPECT_GE(frames, 20);
  EXPECT_LT(frames, 300);
  for (const std::string& name : directory_entries(s.path("out"))) EXPECT_NE(name[0], '.') << name;
}

// A disk that fills up ends the run at the first write that fails, with the
// system's reason; run.json says so and the last checkpoint stays. Once
// there is room, --resume (through the path that writes no video) gives
// the masks, and the frame count, of a run that never stopped. As root the
// disk is a small tmpfs; otherwise OUTDIR is made read-only mid-run.
TEST(SegmentResume, FullDiskStopsTheRunAndResumeGivesTheMasksOfAnUninterruptedOne) {
  ScratchDir s("cli-full-disk");
  const int frames = 200;
  const cv::Size size(96, 72);
  const std::string scene = noisy_scene(s.path("scene"), frames, size);
  const std::vector<std::string> run = {"segment",
                                        scene,
                                        "--median-frames",
                                        "10",
                                        "--layers",
                                        "2",
                                        "--checkpoint-every",
                                        "20",
                                        "--learning-rate",
                                        "0.3",
                                        "-q"};
  auto with = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = run;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ASSERT_EQ(run_cli(with({"-o", s.path("whole")})).exit_code, 0);

  const std::string disk = s.path("disk"), out = disk + "/out";
  fs::create_directory(disk);
  // Room for one checkpoint and some masks, not for a second checkpoint
  // beside the first.
  const long long pixels = static_cast<long long>(size.area());
  const long long checkpoint_bytes = 112 + 2 * pixels + 12 * 3 * pixels;
  const bool small_disk =
      geteuid() == 0 && mount("tmpfs", disk.c_str(), "tmpfs", 0,
                              ("size=" + std::to_string(checkpoint_bytes + 320 * 1024)).c_str()) == 0;
  if (!small_disk && geteuid() == 0) GTEST_SKIP() << "no tmpfs can be mounted here";
  // Taken away however the test ends, so that the scratch directory goes.
  const std::unique_ptr<const std::string, void (*)(const std::string*)> unmount(
      small_disk ? &disk : nullptr, [](const std::string* dir) { umount2(dir->c_str(), MNT_DETACH); });
  RunResult r;
  if (small_disk) {
    r = run_cli(with({"-o", out}));
  } else {
    const pid_t pid = start_cli(with({"-o", out}));
    wait_for_file(out + "/checkpoint.state", 60);
    chmod(out.c_str(), 0555);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    chmod(out.c_str(), 0755);
  }
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_TRUE(file_exists(out + "/checkpoint.state"));
  if (small_disk) {
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    const std::string record = read_file(out + "/run.json");
    EXPECT_NE(record.find("\"status\": \"failed\""), std::string::npos) << record;
    EXPECT_NE(record.find("No space left on device"), std::string::npos) << record;
    EXPECT_LT(json_value(record, "done"), frames);
    ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT, "size=64m"), 0);
  }

  r = run_cli(with({"-o", out, "--resume"}));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(differing_masks(out, "mask", s.path("whole"), "mask", 1, frames), 0);
  EXPECT_TRUE(read_numbered_mask(out, "mask", frames + 1).empty());
  const std::string record = read_file(out + "/run.json");
  EXPECT_EQ(json_value(record, "done"), frames) << record;
  EXPECT_EQ(json_value(record, "last"), frames) << record;
  EXPECT_FALSE(file_exists(out + "/checkpoint.state"));
}
