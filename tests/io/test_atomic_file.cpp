#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "io/atomic_file.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix;

namespace {

TEST(AtomicFile, TemporaryNameStaysInTheSameDirectory) {
  const std::string pid = std::to_string(getpid());
  EXPECT_EQ(temporary_name_for("out/bin000001.png"), "out/.bin000001.png.tmp." + pid);
  EXPECT_EQ(temporary_name_for("bin000001.png"), ".bin000001.png.tmp." + pid);
}

TEST(AtomicFile, SavedImageReadsBackAndNothingElseIsLeft) {
  const ScratchDir scratch("atomic");
  const std::string& dir = scratch.root;
  cv::Mat parent(4, 9, CV_8UC1, cv::Scalar(0));
  cv::Mat mask = parent(cv::Rect(1, 0, 5, 4));  // padded rows
  mask.at<unsigned char>(2, 3) = 255;
  const std::string path = dir + "/bin000001.png";
  ASSERT_TRUE(save_image_atomic(path, mask));
  ASSERT_TRUE(save_image_atomic(path, mask));  // replacing is fine too
  const cv::Mat back = cv::imread(path, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(back.type(), CV_8UC1);
  EXPECT_EQ(cv::norm(back, mask, cv::NORM_INF), 0.0);
  EXPECT_EQ(directory_entries(dir), std::vector<std::string>{"bin000001.png"});
}

TEST(AtomicFile, FailedSavesReturnFalseAndLeaveNothing) {
  const ScratchDir scratch("atomic");
  const std::string& dir = scratch.root;
  const cv::Mat image(2, 2, CV_8UC3, cv::Scalar(1, 2, 3));
  EXPECT_FALSE(save_image_atomic(dir + "/missing/x.png", image));
  EXPECT_FALSE(save_image_atomic(dir + "/no_extension", image));
  EXPECT_FALSE(save_image_atomic(dir + "/x.unknownformat", image));
  EXPECT_FALSE(save_image_atomic(dir + "/empty.png", cv::Mat()));
  EXPECT_TRUE(directory_entries(dir).empty());
}

TEST(AtomicFileDeathTest, SignalRemovesTheFileInProgress) {
  const ScratchDir scratch("atomic");
  const std::string& dir = scratch.root;
  const std::string temporary = dir + "/.x.png.tmp";
  touch_file(temporary);
  EXPECT_EXIT(
      {
        install_temporary_file_cleanup();
        begin_temporary_file(temporary);
        std::raise(SIGTERM);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(file_exists(temporary));

  // A finished file is forgotten, and an ignored signal stays ignored.
  touch_file(temporary);
  EXPECT_EXIT(
      {
        install_temporary_file_cleanup();
        begin_temporary_file(temporary);
        end_temporary_file();
        std::raise(SIGINT);
      },
      testing::KilledBySignal(SIGINT), "");
  EXPECT_EXIT(
      {
        std::signal(SIGHUP, SIG_IGN);
        install_temporary_file_cleanup();
        begin_temporary_file(temporary);
        std::raise(SIGHUP);
        std::exit(file_exists(temporary) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_TRUE(file_exists(temporary));
}

}  // namespace
