// The loop with its input and output threads must leave exactly what the
// loop that does everything in line leaves: the same files, byte for byte,
// the same console text and the same exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/videoio.hpp>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "driver/frame_loop.h"
#include "driver/run.h"
#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

namespace {

// The program run in a forked copy of this process, where the loop can be
// told to do everything in line. Same conditions as run_binary: own
// session, no DISPLAY, standard input from /dev/null.
RunResult run_in_line(const std::vector<std::string>& switches, const std::string& seq_name,
                      const std::string& cwd) {
  const std::string out_path = cwd + "/../in-line.out";
  const std::string err_path = cwd + "/../in-line.err";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    alarm(120);
    unsetenv("DISPLAY");
    if (chdir(cwd.c_str()) != 0) _exit(120);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(121);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<std::string> args = {"Strellixplus", seq_name};
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    overlap_frame_io = false;
    const int code = run_program(static_cast<int>(args.size()), argv.data());
    std::fflush(nullptr);
    _exit(code);
  }
  RunResult result;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return result;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

// Every regular file directly in dir, by name, with its bytes.
std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const std::string& name : directory_entries(dir)) {
    const std::string path = dir + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) files[name] = read_file(path);
  }
  return files;
}

std::vector<std::string> names_of(const std::map<std::string, std::string>& files) {
  std::vector<std::string> names;
  for (const auto& f : files) names.push_back(f.first);
  return names;
}

// A scene where something changes every frame: a square moving over a
// textured background, so that masks differ from frame to frame.
cv::Mat moving_scene(int k) {
  cv::Mat frame(30, 48, CV_8UC3);
  for (int r = 0; r < frame.rows; ++r)
    for (int c = 0; c < frame.cols; ++c)
      frame.at<cv::Vec3b>(r, c) =
          cv::Vec3b(static_cast<unsigned char>(40 + 3 * c), static_cast<unsigned char>(60 + 2 * r),
                    static_cast<unsigned char>(90 + (r * c) % 50));
  paint_rect(frame, 2 + 4 * (k % 10), 8 + (k % 3), 7, 7, cv::Vec3b(20, 230, 240));
  return frame;
}

struct Scene : ScratchDir {
  std::string input = path("input");
  std::string seq = input + "/seq";
  std::string overlapped = path("overlapped");
  std::string in_line = path("in-line");
  Scene(int first, int last) : ScratchDir("pipeline") {
    mkdir(input.c_str(), 0755);
    mkdir(overlapped.c_str(), 0755);
    mkdir(in_line.c_str(), 0755);
    for (int k = first; k <= last; ++k) write_frame(seq, k, moving_scene(k));
  }
  void remove_frame(int k) { std::remove((seq + std::to_string(k) + ".png").c_str()); }
  void replace_frame(int k, const std::string& bytes) {
    std::FILE* f = std::fopen((seq + std::to_string(k) + ".png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // Makes `name` unwritable in both output directories.
  void block_output(const std::string& name) {
    mkdir((overlapped + "/" + name).c_str(), 0755);
    mkdir((in_line + "/" + name).c_str(), 0755);
  }
};

// Runs both loops on the scene and checks they leave the same things
// behind; returns the overlapped run's result for further checks.
RunResult expect_same_runs(Scene& scene, const std::vector<std::string>& switches) {
  const RunResult overlapped = run_strellix(switches, scene.seq, scene.overlapped, 120);
  const RunResult in_line = run_in_line(switches, scene.seq, scene.in_line);
  EXPECT_EQ(overlapped.signal, 0);
  EXPECT_EQ(in_line.signal, 0);
  EXPECT_EQ(overlapped.exit_code, in_line.exit_code);
  EXPECT_EQ(overlapped.out, in_line.out);
  EXPECT_EQ(overlapped.err, in_line.err);
  const auto got = files_in(scene.overlapped);
  const auto want = files_in(scene.in_line);
  EXPECT_EQ(names_of(got), names_of(want));
  for (const auto& f : want) {
    auto other = got.find(f.first);
    if (other != got.end()) {
      EXPECT_TRUE(other->second == f.second) << f.first << " differs";
    }
  }
  return overlapped;
}

// The median takes frames 1 and 2 only, so later frames can go missing.
const std::vector<std::string> BASE = {"-ini", "1", "-end", "14", "-n", "4", "-F", "2"};

std::vector<std::string> with(std::vector<std::string> switches, const std::vector<std::string>& more) {
  switches.insert(switches.end(), more.begin(), more.end());
  return switches;
}

TEST(Pipeline, NormalRunsMatchTheLoopInLine) {
  Scene scene(1, 14);
  const RunResult r = expect_same_runs(scene, BASE);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(file_exists(scene.overlapped + "/bin000014.png"));
  EXPECT_NE(r.out.find(" 14 "), std::string::npos);
}

// Ranges that make one stretch or both empty, a single layer, and a range
// that ends before it starts: the frame asked for ahead must always be the
// one the loop reads next.
TEST(Pipeline, StretchBoundariesMatchTheLoopInLine) {
  Scene scene(1, 14);
  const std::vector<std::vector<std::string>> cases = {
      {"-ini", "1", "-end", "14", "-n", "1", "-F", "3"},
      {"-ini", "2", "-end", "5", "-n", "4", "-F", "3"},   // range = n: calibration only
      {"-ini", "2", "-end", "4", "-n", "6", "-F", "3"},   // range < n
      {"-ini", "3", "-end", "3", "-n", "4", "-F", "3"},   // frame ini only
      {"-ini", "5", "-end", "2", "-n", "4", "-F", "3"},   // end < ini
      {"-ini", "1", "-end", "20", "-n", "3", "-F", "3"},  // input ends before end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c));
    expect_same_runs(scene, c);
    remove_tree(scene.overlapped);
    remove_tree(scene.in_line);
    mkdir(scene.overlapped.c_str(), 0755);
    mkdir(scene.in_line.c_str(), 0755);
  }
}

TEST(Pipeline, MissingFrameInEachStretch) {
  {
    Scene scene(1, 14);
    scene.remove_frame(3);  // calibration: frames 3 and 4 skipped, online from 5
    const RunResult r = expect_same_runs(scene, with(BASE, {"-n", "5"}));
    EXPECT_NE(r.out.find("ATTENTION: Cannot grab file " + scene.seq + "3.png"), std::string::npos);
    EXPECT_FALSE(file_exists(scene.overlapped + "/bin000004.png"));
    EXPECT_TRUE(file_exists(scene.overlapped + "/bin000006.png"));
  }
  {
    Scene scene(1, 14);
    scene.remove_frame(9);  // online: the loop ends there
    // Frames past the gap may have been read ahead: their complaints must
    // not show, as the loop in line never reads them.
    scene.replace_frame(10, "\x89PNG\r\n\x1a\n not really an image");
    write_frame(scene.seq, 11, solid_frame(20, 10, cv::Vec3b(1, 2, 3)));
    const RunResult r = expect_same_runs(scene, BASE);
    EXPECT_EQ(r.err.find(scene.seq + "1"), std::string::npos) << r.err;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(file_exists(scene.overlapped + "/bin000008.png"));
    EXPECT_FALSE(file_exists(scene.overlapped + "/bin000010.png"));
  }
}

TEST(Pipeline, UnusableFramesStopTheRunWithEarlierMasksComplete) {
  {
    Scene scene(1, 14);
    scene.replace_frame(8, "\x89PNG\r\n\x1a\n not really an image");
    const RunResult r = expect_same_runs(scene, BASE);
    EXPECT_EQ(r.exit_code, 5);
    EXPECT_NE(r.err.find(scene.seq + "8.png"), std::string::npos);
    for (int k = 1; k <= 7; ++k) EXPECT_FALSE(read_mask(scene.overlapped, k).empty()) << "mask " << k;
    EXPECT_FALSE(file_exists(scene.overlapped + "/bin000008.png"));
  }
  {
    Scene scene(1, 14);
    write_frame(scene.seq, 3, solid_frame(20, 10, cv::Vec3b(1, 2, 3)));  // wrong size, calibrating
    const RunResult r = expect_same_runs(scene, BASE);
    EXPECT_EQ(r.exit_code, 5);
  }
}

// A failed mask save sits between frames that are written; a failed
// rendering prints its message on standard output, which must stay in
// its place among the progress items.
TEST(Pipeline, UnwritableOutputsAreReportedInOrder) {
  {
    Scene scene(1, 14);
    scene.block_output("bin000007.png");
    scene.block_output("bin000011.png");
    const RunResult r = expect_same_runs(scene, BASE);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_LT(r.err.find("bin000007.png"), r.err.find("bin000011.png"));
    EXPECT_TRUE(file_exists(scene.overlapped + "/bin000014.png"));
  }
  {
    Scene scene(1, 14);
    scene.block_output("seqBGrepresentation.6.ppm");
    const RunResult r = expect_same_runs(scene, with(BASE, {"-SmodBG", "1"}));
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.out.find(" 6 Errore apertura file seqBGrepresentation.6.ppm\n 7 "), std::string::npos);
  }
}

TEST(Pipeline, OutputSwitchesMatchTheLoopInLine) {
  Scene scene(1, 14);
  expect_same_runs(scene, with(BASE, {"-SmaskMOD", "0"}));
  EXPECT_FALSE(file_exists(scene.overlapped + "/bin000005.png"));
  remove_tree(scene.overlapped);
  remove_tree(scene.in_line);
  mkdir(scene.overlapped.c_str(), 0755);
  mkdir(scene.in_line.c_str(), 0755);
  expect_same_runs(scene, with(BASE, {"-SmodBG", "1"}));
  EXPECT_TRUE(file_exists(scene.overlapped + "/seqBGrepresentation.14.ppm"));
}

TEST(Pipeline, VideoInputMatchesTheLoopInLine) {
  Scene scene(1, 0);
  {
    cv::VideoWriter writer(scene.seq + ".avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           cv::Size(48, 30));
    if (!writer.isOpened()) GTEST_SKIP() << "no video writer here";
    for (int k = 1; k <= 12; ++k) writer.write(moving_scene(k));
  }
  // The video ends before -end; then a range that ends inside it.
  expect_same_runs(scene, {"-f", "-ini", "1", "-end", "30", "-n", "4", "-F", "4"});
  EXPECT_TRUE(file_exists(scene.overlapped + "/bin000012.png"));
  remove_tree(scene.overlapped);
  remove_tree(scene.in_line);
  mkdir(scene.overlapped.c_str(), 0755);
  mkdir(scene.in_line.c_str(), 0755);
  expect_same_runs(scene, {"-f", "-ini", "1", "-end", "9", "-n", "3", "-F", "4", "-SmodBG", "1"});
}

}  // namespace
