// End-to-end with real windows on a virtual X display: the windows appear,
// ESC ends a video run early, and ESC has no effect on numbered files.
// Skipped where the virtual display or the X tools are not installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

bool have_x_tools() {
  for (const char* tool : {"/usr/bin/xvfb-run", "/usr/bin/xwininfo", "/usr/bin/xdotool"}) {
    if (!file_exists(tool)) return false;
  }
  return true;
}

// Starts the program on the virtual display, waits for the window `title`,
// then (if asked) keeps pressing ESC in it until the program ends. Prints
// "window=1" when the window was seen and "exit=N" with the program's code.
const char* const DRIVE_SCRIPT = R"(
title="$1"; press_escape="$2"; shift 2
"$@" </dev/null >run.out 2>run.err &
pid=$!
seen=0
for i in $(seq 1 400); do
  id=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n 1)
  if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q "IsViewable"; then seen=1; break; fi
  kill -0 $pid 2>/dev/null || break
  sleep 0.05
done
echo "window=$seen"
if [ "$seen" = 1 ] && [ "$press_escape" = 1 ]; then
  while kill -0 $pid 2>/dev/null; do
    xdotool windowfocus "$id" key Escape 2>/dev/null
    sleep 0.1
  done
fi
wait $pid
echo "exit=$?"
)";

// Each test process starts its search for a free display number elsewhere
// (by test and by process), so that runs side by side do not race for the
// same number.
RunResult drive(const std::string& cwd, int test_offset, const std::string& title, bool press_escape,
                const std::vector<std::string>& program_args) {
  const int first_display = 100 + static_cast<int>(getpid() % 200) * 2 + test_offset;
  std::vector<std::string> args = {"/usr/bin/xvfb-run",
                                   "-a",
                                   "-n",
                                   std::to_string(first_display),
                                   "-s",
                                   "-screen 0 1024x768x24",
                                   "/bin/bash",
                                   "-c",
                                   DRIVE_SCRIPT,
                                   "drive",
                                   title,
                                   press_escape ? "1" : "0",
                                   STRELLIX_BINARY};
  args.insert(args.end(), program_args.begin(), program_args.end());
  return run_binary(args, cwd, 180);
}

int count_masks(const std::string& dir, int first, int last) {
  int count = 0;
  for (int k = first; k <= last; ++k) count += read_mask(dir, k).empty() ? 0 : 1;
  return count;
}

}  // namespace

TEST(Windows, MaskWindowAppearsAndEscapeIsIgnoredWithNumberedFiles) {
  if (!have_x_tools()) GTEST_SKIP() << "xvfb-run, xwininfo or xdotool missing";
  ScratchDir s("windows");
  const std::string seq = s.root + "/frame";
  std::vector<cv::Mat> frames;
  // 240 frames keep the window up for seconds even on a loaded machine, so
  // the poll that looks for it cannot miss it between two looks.
  for (int k = 1; k <= 240; ++k) {
    cv::Mat frame = solid_frame(40, 30, cv::Vec3b(90, 120, 60));
    paint_rect(frame, k % 34, 10, 6, 6, cv::Vec3b(250, 250, 20));
    frames.push_back(frame);
  }
  ASSERT_TRUE(write_frames(seq, 1, frames));

  RunResult r = drive(s.root, 0, "Output", true, {seq, "-end", "240", "-F", "5", "-ShowMask", "1"});
  ASSERT_FALSE(r.timed_out);
  EXPECT_NE(r.out.find("window=1"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("exit=0"), std::string::npos) << r.out << read_file(s.root + "/run.err");
  EXPECT_EQ(count_masks(s.root, 1, 240), 240);
  EXPECT_NE(read_file(s.root + "/run.out").find("N. of images:"), std::string::npos);
}

TEST(Windows, EscapeInTheVideoWindowEndsTheRunEarly) {
  if (!have_x_tools()) GTEST_SKIP() << "xvfb-run, xwininfo or xdotool missing";
  ScratchDir s("windows");
  const std::string seq = s.root + "/clip";
  cv::VideoWriter writer(seq + ".avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, cv::Size(32, 24));
  if (!writer.isOpened()) GTEST_SKIP() << "no video encoder here";
  for (int k = 0; k < 600; ++k) {
    cv::Mat frame = solid_frame(32, 24, cv::Vec3b(90, 120, 60));
    paint_rect(frame, k % 26, 8, 6, 6, cv::Vec3b(250, 250, 20));
    writer.write(frame);
  }
  writer.release();

  RunResult r = drive(s.root, 1, "clip", true, {seq, "-f", "-end", "600", "-F", "5"});
  ASSERT_FALSE(r.timed_out);
  EXPECT_NE(r.out.find("window=1"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("exit=0"), std::string::npos) << r.out << read_file(s.root + "/run.err");
  const int masks = count_masks(s.root, 1, 600);
  EXPECT_GE(masks, 5);  // at least frame 1 and the calibration frames
  EXPECT_LT(masks, 600) << "ESC should have ended the run before the video's end";
  // The report follows an ESC as it follows any other end.
  EXPECT_NE(read_file(s.root + "/run.out")
                .find("N. of images:                                                 600\n"),
            std::string::npos);
}
