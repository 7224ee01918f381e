// A run killed outright (SIGKILL: no clean-up at all) and resumed from its
// last checkpoint writes the masks of a run that was never interrupted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

#include "support/cli_runs.h"
#include "support/scratch_dir.h"

namespace {

pid_t launch_cli(const std::vector<std::string>& args) {
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

double seconds_now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
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
  const pid_t pid = launch_cli(with({"-o", s.path("killed")}));
  const double deadline = seconds_now() + 120;
  while (!file_exists(s.path("killed/checkpoint.state")) && seconds_now() < deadline) usleep(500);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";

  // Another run, or other options, cannot take over the checkpoint.
  RunResult r = run_cli(with({"-o", s.path("killed"), "--resume", "--layers", "4"}));
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--layers 5, this command 4"), std::string::npos) << r.err;

  r = run_cli(with({"-o", s.path("killed"), "--resume"}));
  ASSERT_EQ(r.exit_code, 0) << r.err;
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
  const pid_t pid = launch_cli({"segment", scene + "%d.png", "-o", s.path("out"), "--median-frames", "10",
                                "--mask-video", "masks.mkv"});
  const double deadline = seconds_now() + 120;
  while (!file_exists(s.path("out/mask000020.png")) && seconds_now() < deadline) usleep(500);
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
