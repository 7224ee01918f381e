// Checks of the benchmark's own helpers: the medians and ratios it reports,
// the mask comparisons its checks rely on, and the timed child runs (exit
// status, signals, working directory, standard streams, session, CPU time
// and peak memory of the child). No check depends on how fast anything is.
//
// Prints "N passed, N failed"; exit code 1 when a check failed.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "bench_timing.h"
#include "mask_compare.h"
#include "whole_run.h"

using namespace strellix;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- medians and ratios --------------------------------------------------

void check_medians_and_ratios() {
  check(median_of({3.0, 1.0, 2.0}) == 2.0, "median of an odd count is the middle value");
  check(median_of({4.0, 1.0, 3.0, 2.0}) == 2.5, "median of an even count is the mean of the middle two");
  check(median_of({}) == 0.0, "median of nothing is 0");

  Timing t;
  record(t, Figures{0.5, 0.2});
  record(t, Figures{0.1, 0.4});
  record(t, Figures{0.3, 0.3});
  const Figures f = figures_of(t);
  check(f.wall == 0.3 && f.cpu == 0.3, "wall and cpu medians are taken separately");

  const Figures r = ratio_of(Figures{6.0, 3.0}, Figures{2.0, 0.0});
  check(r.wall == 3.0, "ratio of wall times");
  check(r.cpu == 0.0, "a zero denominator gives 0, not infinity");

  const Figures s = scaled(sum_of(Figures{1.0, 2.0}, Figures{3.0, 4.0}), 10.0);
  check(s.wall == 40.0 && s.cpu == 60.0, "sum then scale, clock by clock");
}

// ---- mask comparisons ----------------------------------------------------

cv::Mat test_mask(int seed) {
  cv::Mat m(24, 32, CV_8UC1);
  cv::RNG rng(static_cast<std::uint64_t>(seed));
  for (int r = 0; r < m.rows; ++r) {
    for (int c = 0; c < m.cols; ++c) {
      m.at<unsigned char>(r, c) = rng.uniform(0, 2) != 0 ? 255 : 0;
    }
  }
  return m;
}

void check_image_comparison() {
  const cv::Mat a = test_mask(1);
  cv::Mat b = a.clone();
  check(same_image(a, b), "equal masks compare equal");
  b.at<unsigned char>(b.rows - 1, b.cols - 1) ^= 255;
  check(!same_image(a, b), "a change in the last byte is seen");

  check(!same_image(a, cv::Mat(a.size(), CV_8UC3, cv::Scalar::all(0))),
        "different channel counts differ (and do not throw)");
  check(!same_image(a, a(cv::Rect(0, 0, 31, 24)).clone()), "different sizes differ");
  check(same_image(cv::Mat(), cv::Mat()), "two empty images are equal");
  check(!same_image(cv::Mat(), a), "an empty image differs from a mask");

  cv::Mat colour_a(4, 4, CV_8UC3, cv::Scalar(1, 2, 3));
  cv::Mat colour_b = colour_a.clone();
  colour_b.at<cv::Vec3b>(3, 3)[2] = 4;
  check(!same_image(colour_a, colour_b), "a change in the last channel of a colour image is seen");

  // Views into larger images have row padding that must not be compared.
  cv::Mat big_a(10, 10, CV_8UC1, cv::Scalar(7));
  cv::Mat big_b(10, 10, CV_8UC1, cv::Scalar(9));
  big_a(cv::Rect(2, 2, 5, 5)).setTo(0);
  big_b(cv::Rect(2, 2, 5, 5)).setTo(0);
  check(same_image(big_a(cv::Rect(2, 2, 5, 5)), big_b(cv::Rect(2, 2, 5, 5))),
        "only the pixels of a view are compared");
}

void check_mask_lists() {
  std::vector<cv::Mat> a{test_mask(1), test_mask(2), test_mask(3)};
  std::vector<cv::Mat> b{a[0].clone(), a[1].clone(), a[2].clone()};
  check(first_different_mask(a, b) == -1, "equal lists agree");
  b[2].at<unsigned char>(0, 0) ^= 255;
  check(first_different_mask(a, b) == 2, "the first differing mask is named");
  b[2] = a[2].clone();
  b.pop_back();
  check(first_different_mask(a, b) == 2, "a list that stops early differs where it stops");
  check(first_different_mask({}, {}) == -1, "two empty lists agree");
}

void check_mask_files(const std::string& scratch) {
  const std::string dir_a = scratch + "/a";
  const std::string dir_b = scratch + "/b";
  const std::string dir_empty = scratch + "/empty";
  for (const std::string& d : {dir_a, dir_b, dir_empty}) {
    std::filesystem::create_directories(d);
  }
  std::vector<cv::Mat> masks;
  for (int k = 1; k <= 4; ++k) {
    masks.push_back(test_mask(k));
    cv::imwrite(mask_path_in(dir_a, k), masks.back());
    cv::imwrite(mask_path_in(dir_b, k), masks.back());
  }
  long long first = 0;
  check(same_mask_files(dir_a, dir_b, 1, 4, first), "identical mask files agree");
  check(masks_match_files(masks, dir_a, 1, first), "masks in memory match their files");

  cv::Mat changed = masks[2].clone();
  changed.at<unsigned char>(5, 5) ^= 255;
  cv::imwrite(mask_path_in(dir_b, 3), changed);
  first = 0;
  check(!same_mask_files(dir_a, dir_b, 1, 4, first) && first == 3,
        "a changed mask file is found, with its frame number");
  first = 0;
  check(!masks_match_files(masks, dir_b, 1, first) && first == 3,
        "a file that differs from the mask in memory is found");

  std::filesystem::remove(mask_path_in(dir_b, 4));
  cv::imwrite(mask_path_in(dir_b, 3), masks[2]);
  first = 0;
  check(!same_mask_files(dir_a, dir_b, 1, 4, first) && first == 4, "a missing mask file differs");
  first = 0;
  check(!same_mask_files(dir_empty, dir_empty, 1, 4, first) && first == 1,
        "two runs that wrote nothing do not count as equal");

  std::ofstream(mask_path_in(dir_b, 4)) << "not a picture";
  first = 0;
  check(!same_mask_files(dir_a, dir_b, 1, 4, first) && first == 4, "an unreadable mask file differs");
}

// ---- timed child runs ----------------------------------------------------

WholeRun shell(const std::string& script, const std::string& cwd) {
  return run_program("/bin/sh", {"-c", script}, cwd);
}

void check_child_runs(const std::string& scratch, const std::string& self) {
  const std::string cwd = scratch + "/child";
  std::filesystem::create_directories(cwd);

  WholeRun w = shell("exit 0", cwd);
  check(w.ok && w.failure.empty(), "a child that exits with 0 succeeds");

  w = shell("exit 3", cwd);
  check(!w.ok && w.failure.find("exit code 3") != std::string::npos,
        "a non-zero exit code is a failure that names the code");

  w = shell("kill -KILL $$", cwd);
  check(!w.ok && w.failure.find("signal 9") != std::string::npos,
        "a child ended by a signal is a failure that names the signal");

  w = run_program(cwd + "/no-such-program", {}, cwd);
  check(!w.ok, "a program that cannot be started is a failure");

  w = shell("pwd; echo to-stderr >&2", cwd);
  const std::string where = std::filesystem::canonical(cwd).string() + "\n";
  check(w.ok && read_file(cwd + "/stdout.txt") == where,
        "the child runs in the given directory, its output goes to stdout.txt there");
  check(read_file(cwd + "/stderr.txt") == "to-stderr\n", "its errors go to stderr.txt there");

  w = shell("cat; echo done", cwd);
  check(w.ok && read_file(cwd + "/stdout.txt") == "done\n",
        "standard input is empty (/dev/null), so reading it ends at once");

  w = shell(
      "read -r pid comm state ppid pgrp session rest < /proc/$$/stat; "
      "[ \"$session\" = \"$$\" ]",
      cwd);
  check(w.ok, "the child leads a session of its own (no controlling terminal)");

  // The child's own memory and CPU time, not the parent's.
  w = run_program(self, {"--child-work", "96"}, cwd);
  check(w.ok, "the working child ends well");
  check(w.peak_rss_kb >= 90L * 1024L,
        "the peak memory is the child's (" + std::to_string(w.peak_rss_kb) + " kB)");
  check(w.cpu >= 0.1, "the CPU time is the child's");
  {
    // A parent larger than its child: the copy the child is before it
    // starts its program does not count.
    std::vector<unsigned char> large(std::size_t{400} << 20, 1);
    w = run_program(self, {"--child-work", "8"}, cwd);
    check(
        w.ok && w.peak_rss_kb > 0 && w.peak_rss_kb < 200L * 1024L,
        "the peak memory is the program's own, not its parent's (" + std::to_string(w.peak_rss_kb) + " kB)");
    check(large.back() == 1, "the parent's memory stayed in use");
  }
  check(w.wall >= 0.0, "wall time is measured");
}

// Touches `mb` megabytes and keeps a core busy for a moment.
int child_work(int mb) {
  std::vector<unsigned char> block(static_cast<std::size_t>(mb) * 1024 * 1024);
  for (std::size_t i = 0; i < block.size(); i += 4096) {
    block[i] = static_cast<unsigned char>(i);
  }
  const double start = process_cpu_seconds();
  volatile double x = 0.0;
  while (process_cpu_seconds() - start < 0.2) {
    for (int i = 0; i < 10000; ++i) {
      x = x + std::sqrt(static_cast<double>(i));
    }
  }
  return block[4096] == 0 && x < 0.0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--child-work") == 0) {
    return child_work(std::atoi(argv[2]));
  }
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string scratch =
      (std::filesystem::temp_directory_path() / ("bench_selfcheck." + std::to_string(getpid()))).string();
  std::filesystem::create_directories(scratch);

  check_medians_and_ratios();
  check_image_comparison();
  check_mask_lists();
  check_mask_files(scratch + "/masks");
  check_child_runs(scratch, self);

  std::filesystem::remove_all(scratch);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
