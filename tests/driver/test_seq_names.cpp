#include <gtest/gtest.h>

#include <string>

#include "driver/seq_names.h"

using namespace strellix;

namespace {

void expect_split(const std::string& seq_name, const std::string& dir, const std::string& base) {
  const SeqNames names = split_seq_name(seq_name);
  EXPECT_EQ(names.dir, dir) << seq_name;
  EXPECT_EQ(names.base, base) << seq_name;
  EXPECT_EQ(names.prefix, seq_name);
}

}  // namespace

TEST(SeqNames, SplitAtTheLastSeparatorOfEitherKind) {
  expect_split("seq", "", "seq");
  expect_split("", "", "");
  expect_split("data/seq", "data/", "seq");
  expect_split("/abs/path/in", "/abs/path/", "in");
  expect_split("data/run\\seq", "data/run\\", "seq");
  expect_split("data\\run/seq", "data\\run/", "seq");
  expect_split("data/", "data/", "");
  expect_split("/", "/", "");
  expect_split("a\\", "a\\", "");
  expect_split("./x", "./", "x");
}

TEST(SeqNames, LongNamesWithSpecialCharactersAreKeptWhole) {
  const std::string dir = std::string(300, 'd') + " 100% dir/";
  const std::string base = "frame %d %s\t" + std::string(250, 'b');
  expect_split(dir + base, dir, base);
  EXPECT_EQ(frame_file_name(dir + base, 12), dir + base + "12.png");
  EXPECT_EQ(rendering_file_name(base, 3), base + "BGrepresentation.3.ppm");
  EXPECT_EQ(initial_model_name(dir), dir + "InitialModel.png");
  EXPECT_EQ(video_file_name(dir + base), dir + base + ".avi");
}

TEST(SeqNames, FileNameFormats) {
  EXPECT_EQ(frame_file_name("data/in", 1), "data/in1.png");
  EXPECT_EQ(frame_file_name("data/in", 0), "data/in0.png");
  EXPECT_EQ(frame_file_name("in", -3), "in-3.png");
  EXPECT_EQ(frame_file_name("in", 2147483648LL), "in2147483648.png");
  EXPECT_EQ(frame_file_name("", 100), "100.png");

  EXPECT_EQ(mask_file_name(0), "bin000000.png");
  EXPECT_EQ(mask_file_name(7), "bin000007.png");
  EXPECT_EQ(mask_file_name(470), "bin000470.png");
  EXPECT_EQ(mask_file_name(999999), "bin999999.png");
  EXPECT_EQ(mask_file_name(1234567), "bin1234567.png");
  EXPECT_EQ(mask_file_name(-5), "bin-000005.png");
  EXPECT_EQ(mask_file_name(2147483647), "bin2147483647.png");
  EXPECT_EQ(mask_file_name(-2147483648LL), "bin-2147483648.png");
  EXPECT_EQ(mask_file_name(2147483648LL), "bin2147483648.png");

  EXPECT_EQ(rendering_file_name("seq", 42), "seqBGrepresentation.42.ppm");
  EXPECT_EQ(rendering_file_name("", 5), "BGrepresentation.5.ppm");
  EXPECT_EQ(initial_model_name(""), "InitialModel.png");
  EXPECT_EQ(initial_model_name("data/run\\"), "data/run\\InitialModel.png");
  EXPECT_EQ(video_file_name("data/vtest"), "data/vtest.avi");
}
