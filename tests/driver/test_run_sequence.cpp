// End-to-end: whole runs on small synthetic PNG sequences: console output,
// the files a run leaves, and how failures end a run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <opencv2/imgcodecs.hpp>

#include <climits>
#include <string>
#include <vector>

#include "support/frames.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

namespace {

const cv::Vec3b GREY(128, 128, 128);
const cv::Vec3b RED(0, 0, 255);

// A scratch tree: the sequence lives in data/, the program runs in work/,
// so that what goes to the sequence's directory and what goes to the
// current directory can be told apart.
struct Scratch : ScratchDir {
  std::string data = path("data");
  std::string work = path("work");
  std::string seq = data + "/seq";
  Scratch() : ScratchDir("seq") {
    mkdir(data.c_str(), 0755);
    mkdir(work.c_str(), 0755);
  }
  std::string in_work(const std::string& name) const { return work + "/" + name; }
};

std::string report(long long images, int w, int h, int n, int F, const char* e = "0.005000", int w1d = 1,
                   int w2d = 1, const char* lr = "0.050000") {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer,
                "\n\nN. of images:                                                 %lld\n"
                "Image dimensions:                                             %d x %d\n"
                "Number of model layers (n):                                   %d\n"
                "Number of initial frames for model initialization (F):        %d\n"
                "Segmentation threshold (e):                                   %s\n"
                "Halfwidth of 1D neighborhood for model update (w1d):          %d\n"
                "Halfwidth of 2D neighborhood for model update (w2d):          %d\n"
                "Learning rate (lr):                                           %s\n",
                images, w, h, n, F, e, w1d, w2d, lr);
  return buffer;
}

const char* const PHASE_2 = "(2) background subtraction & model update ...\n    processing frame no. ";
const char* const PROMPT = "Hit any key to continue...\n";

std::string median_heading(int F) {
  return "(1) model initialization ...\n    computing the median over " + std::to_string(F) +
         " initial frames...\n";
}

// Three grey 8x6 frames; frame 2 has a red block.
void write_three_frames(const std::string& seq) {
  cv::Mat changed = solid_frame(8, 6, GREY);
  paint_rect(changed, 2, 1, 3, 3, RED);
  ASSERT_TRUE(write_frames(seq, 1, {solid_frame(8, 6, GREY), changed, solid_frame(8, 6, GREY)}));
}

void block_with_directory(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
}

}  // namespace

TEST(RunSequence, DefaultRangeOutputIsExactAndFilesLandWhereExpected) {
  Scratch s;
  write_three_frames(s.seq);
  RunResult r = run_strellix({"-F", "3"}, s.seq, s.work, 60);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, median_heading(3) + PHASE_2 + " 2 " + report(2, 8, 6, 5, 3) + PROMPT);
  EXPECT_EQ(r.err, "");

  cv::Mat first = read_mask(s.work, 1);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.type(), CV_8UC1);
  EXPECT_EQ(first.size(), cv::Size(8, 6));
  EXPECT_EQ(count_value(first, 0), 48);
  cv::Mat second = read_mask(s.work, 2);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(count_value(second, 255), 9);
  EXPECT_FALSE(file_exists(s.in_work("bin000003.png")));

  // The median of the three frames is the grey background, stored beside
  // the sequence, not in the current directory.
  cv::Mat initial = cv::imread(s.data + "/InitialModel.png", cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(initial.empty());
  EXPECT_TRUE(same_pixels(initial, solid_frame(8, 6, GREY)));
  EXPECT_FALSE(file_exists(s.in_work("InitialModel.png")));
}

TEST(RunSequence, BootRunStartsFromTheSavedBackgroundAndGivesTheSameMasks) {
  Scratch s;
  write_three_frames(s.seq);
  RunResult first = run_strellix({"-F", "3", "-end", "3", "-n", "2"}, s.seq, s.work, 60);
  ASSERT_EQ(first.exit_code, 0) << first.err;
  std::vector<cv::Mat> masks;
  for (int k = 1; k <= 3; ++k) masks.push_back(read_mask(s.work, k));
  const std::string stored = read_file(s.data + "/InitialModel.png");
  for (int k = 1; k <= 3; ++k) std::remove(s.in_work("bin00000" + std::to_string(k) + ".png").c_str());

  // The median would need frame 4, which does not exist: -Boot must not
  // compute it, and F is still reported.
  RunResult boot = run_strellix({"-F", "4", "-end", "3", "-n", "2", "-Boot", "1"}, s.seq, s.work, 60);
  ASSERT_EQ(boot.exit_code, 0) << boot.err;
  EXPECT_EQ(boot.out, "(1) model initialization ...\n    reading estimated background " + s.data +
                          "/InitialModel.png...\n" + PHASE_2 + " 2  3 " + report(3, 8, 6, 2, 4) + PROMPT);
  for (int k = 1; k <= 3; ++k) {
    cv::Mat again = read_mask(s.work, k);
    EXPECT_TRUE(same_pixels(again, masks[k - 1])) << "mask " << k;
  }
  EXPECT_EQ(read_file(s.data + "/InitialModel.png"), stored);
}

TEST(RunSequence, InitialBackgroundFailuresEndWithCodeOneAndLeaveNothing) {
  Scratch s;
  write_three_frames(s.seq);
  {  // a median frame that does not exist
    RunResult r = run_strellix({"-F", "5"}, s.seq, s.work, 60);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, median_heading(5) + "Unable to read expected file " + s.seq + "4.png\n");
  }
  {  // -Boot without a stored background
    const std::string name = s.data + "/InitialModel.png";
    RunResult r = run_strellix({"-Boot", "1"}, s.seq, s.work, 60);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "(1) model initialization ...\n    reading estimated background " + name +
                         "...\nATTENTION: Cannot grab file " + name);
  }
  {  // -Boot with a stored background of another size
    const std::string name = s.data + "/InitialModel.png";
    ASSERT_TRUE(cv::imwrite(name, solid_frame(9, 6, GREY)));
    RunResult r = run_strellix({"-Boot", "1"}, s.seq, s.work, 60);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "(1) model initialization ...\n    reading estimated background " + name +
                         "...\nATTENTION: Cannot grab file " + name);
    EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    std::remove(name.c_str());
  }
  EXPECT_FALSE(file_exists(s.data + "/InitialModel.png"));
  EXPECT_FALSE(file_exists(s.in_work("bin000001.png")));
}

TEST(RunSequence, RenderingsAndMaskSwitches) {
  Scratch s;
  write_three_frames(s.seq);
  {
    RunResult r = run_strellix({"-F", "3", "-end", "3", "-SmodBG"}, s.seq, s.work, 60);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(file_exists(s.in_work("seqBGrepresentation.1.ppm")));
    for (int k = 2; k <= 3; ++k) {
      const std::string ppm = read_file(s.in_work("seqBGrepresentation." + std::to_string(k) + ".ppm"));
      ASSERT_EQ(ppm.size(), 11u + 8 * 6 * 3) << k;
      EXPECT_EQ(ppm.substr(0, 11), "P6\n8 6\n255\n");
      // The model stays grey wherever the red block was not learnt.
      EXPECT_EQ(static_cast<unsigned char>(ppm[11]), 128);
    }
    EXPECT_FALSE(file_exists(s.data + "/seqBGrepresentation.2.ppm"));
  }
  {
    Scratch t;
    write_three_frames(t.seq);
    RunResult r = run_strellix({"-F", "3", "-end", "3", "-SmaskMOD", "0"}, t.seq, t.work, 60);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(file_exists(t.in_work("bin000001.png")));
    EXPECT_FALSE(file_exists(t.in_work("bin000002.png")));
    EXPECT_FALSE(file_exists(t.in_work("bin000003.png")));
  }
}

TEST(RunSequence, OutputFilesThatCannotBeWrittenGiveCodeThreeAfterAFullRun) {
  Scratch s;
  write_three_frames(s.seq);
  block_with_directory(s.in_work("bin000002.png"));
  block_with_directory(s.data + "/InitialModel.png");
  block_with_directory(s.in_work("seqBGrepresentation.3.ppm"));
  RunResult r = run_strellix({"-F", "3", "-end", "3", "-SmodBG"}, s.seq, s.work, 60);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("Strellixplus: cannot write " + s.data + "/InitialModel.png\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Strellixplus: cannot write bin000002.png\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("seqBGrepresentation.3.ppm"), std::string::npos) << r.err;
  // The PPM writer's own message stays on standard output, and the run
  // still reaches its report and prompt.
  EXPECT_NE(r.out.find("Errore apertura file seqBGrepresentation.3.ppm\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(report(3, 8, 6, 5, 3) + PROMPT), std::string::npos) << r.out;
  EXPECT_TRUE(file_exists(s.in_work("bin000001.png")));
  EXPECT_TRUE(file_exists(s.in_work("bin000003.png")));
  EXPECT_TRUE(file_exists(s.in_work("seqBGrepresentation.2.ppm")));
}

TEST(RunSequence, MissingCalibrationFrameSkipsToTheOnlineStretch) {
  Scratch s;
  std::vector<cv::Mat> frames(10, solid_frame(8, 6, GREY));
  ASSERT_TRUE(write_frames(s.seq, 1, frames));
  std::remove((s.seq + "3.png").c_str());
  RunResult r = run_strellix({"-F", "1", "-end", "10"}, s.seq, s.work, 60);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, median_heading(1) + PHASE_2 + " 2  3 ATTENTION: Cannot grab file " + s.seq +
                       "3.png 6  7  8  9  10 " + report(10, 8, 6, 5, 1) + PROMPT);
  for (int k : {1, 2, 6, 7, 8, 9, 10}) EXPECT_FALSE(read_mask(s.work, k).empty()) << k;
  for (int k : {3, 4, 5}) EXPECT_TRUE(read_mask(s.work, k).empty()) << k;
}

TEST(RunSequence, RangeEdges) {
  {  // end before ini: only frame ini's mask
    Scratch s;
    ASSERT_TRUE(write_frames(s.seq, 3, {solid_frame(8, 6, GREY)}));
    RunResult r = run_strellix({"-F", "1", "-ini", "3", "-end", "1"}, s.seq, s.work, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, median_heading(1) + PHASE_2 + report(-1, 8, 6, 5, 1) + PROMPT);
    EXPECT_TRUE(file_exists(s.in_work("bin000003.png")));
  }
  {  // the widest int range ends at the first missing frame
    Scratch s;
    const long long ini = INT_MIN;
    for (long long k = ini; k < ini + 3; ++k) ASSERT_TRUE(write_frame(s.seq, k, solid_frame(8, 6, GREY)));
    RunResult r =
        run_strellix({"-F", "1", "-n", "2", "-ini", std::to_string(ini), "-end", std::to_string(INT_MAX)},
                     s.seq, s.work, 60);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, median_heading(1) + PHASE_2 + " -2147483647  -2147483646  -2147483645 " +
                         report(4294967296LL, 8, 6, 2, 1) + PROMPT);
    EXPECT_TRUE(file_exists(s.in_work("bin-2147483648.png")));
    EXPECT_TRUE(file_exists(s.in_work("bin-2147483646.png")));
  }
}

TEST(RunSequence, SequenceNameWithBlanksPercentAndThreeHundredCharacters) {
  Scratch s;
  // Directories with blanks and conversion specifiers, a long base name.
  const std::string dir = s.data + "/dir %s %n %d " + std::string(90, 'd');
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::string seq = dir + "/seq %s%n ";
  seq += std::string(seq.size() < 300 ? 300 - seq.size() : 0, 'q');
  ASSERT_GE(seq.size(), 300u);
  ASSERT_LT(seq.size() - dir.size(), 200u);
  const std::string real_base = seq.substr(dir.size() + 1);
  ASSERT_TRUE(write_frames(seq, 1, {solid_frame(8, 6, GREY), solid_frame(8, 6, GREY)}));
  RunResult r = run_strellix({"-F", "2", "-SmodBG"}, seq, s.work, 60);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, median_heading(2) + PHASE_2 + " 2 " + report(2, 8, 6, 5, 2) + PROMPT);
  EXPECT_TRUE(file_exists(dir + "/InitialModel.png"));
  EXPECT_TRUE(file_exists(s.in_work(real_base + "BGrepresentation.2.ppm")));
}
