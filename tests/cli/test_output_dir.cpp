// OUTDIR's rules: what counts as a file of a run, what --overwrite takes
// away and what it leaves, what --resume clears, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cli/command_failure.h"
#include "cli/output_dir.h"
#include "cli/segment_options.h"
#include "support/run_binary.h"
#include "support/scratch_dir.h"

using namespace strellix::cli;

namespace {

std::string refusal(const std::function<void()>& call) {
  try {
    call();
  } catch (const CommandFailure& failure) {
    return failure.code() == EXIT_USAGE ? failure.what() : "";
  }
  return "";
}

std::vector<std::string> sorted_entries(const std::string& dir) {
  std::vector<std::string> names = directory_entries(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(OutputDir, RunFilesAreTheRunsOwnNamesOnly) {
  for (const char* name : {"mask000001.png", "mask-000003.png", "background000050.png", "background.png",
                           "run.json", "checkpoint.state", "checkpoint.txt"})
    EXPECT_TRUE(is_run_file(name)) << name;
  for (const char* name : {"mask.png", "mask00001x.png", "masks000001.png", "mask000001.jpg", "notes.txt",
                           "background-.png", "run.json.bak"})
    EXPECT_FALSE(is_run_file(name)) << name;
  EXPECT_EQ(mask_file_name(7), "mask000007.png");
  EXPECT_EQ(rendering_file_name(1234567), "background1234567.png");
}

TEST(OutputDir, OverwriteTakesAwayAnEarlierRunAndResumeOnlyWhatAWriterLeft) {
  ScratchDir s("outdir-rules");
  const std::vector<std::string> earlier = {
      "mask000001.png",      "run.json",         "overlay.mp4",   ".mask000002.png.tmp.77",
      ".tmp.77.overlay.mp4", "checkpoint.state", "checkpoint.txt"};
  const std::vector<std::string> theirs = {"notes.txt", ".hidden", "old.mp4", ".tmp.x.overlay.mp4"};
  for (const std::string& name : earlier) touch_file(s.path(name));
  for (const std::string& name : theirs) touch_file(s.path(name));
  SegmentOptions o;
  o.output_dir = s.root;
  o.overlay = "overlay.mp4";

  o.resume = true;
  prepare_output_dir(o);
  EXPECT_FALSE(file_exists(s.path(".tmp.77.overlay.mp4")));
  EXPECT_TRUE(file_exists(s.path("mask000001.png")) && file_exists(s.path("checkpoint.state")));

  o.resume = false;
  o.overwrite = true;
  prepare_output_dir(o);
  std::vector<std::string> left = theirs;
  std::sort(left.begin(), left.end());
  EXPECT_EQ(sorted_entries(s.root), left);
}

TEST(OutputDir, RefusalsSayWhatToDo) {
  ScratchDir s("outdir-refusals");
  SegmentOptions o;
  o.location.kind = InputKind::pattern;
  o.location.directory = s.path("input");
  o.output_dir = s.path("new");
  EXPECT_EQ(refusal([&] { check_output_dir(o); }), "");
  o.resume = true;
  EXPECT_NE(refusal([&] { check_output_dir(o); }).find("no run to continue"), std::string::npos);

  o.output_dir = s.root;
  touch_file(s.path("notes.txt"));
  EXPECT_NE(refusal([&] { check_output_dir(o); }).find("no checkpoint in"), std::string::npos);
  touch_file(s.path("checkpoint.state"));
  touch_file(s.path("checkpoint.txt"));
  EXPECT_EQ(refusal([&] { check_output_dir(o); }), "");
  o.resume = false;
  EXPECT_NE(refusal([&] { check_output_dir(o); }).find("is not empty"), std::string::npos);
  o.overwrite = true;
  EXPECT_EQ(refusal([&] { check_output_dir(o); }), "");

  o.location.directory = s.root;  // the input's own directory, even with --overwrite
  EXPECT_NE(refusal([&] { check_output_dir(o); }).find("directory of the input"), std::string::npos);
  o.output_dir = s.path("notes.txt");
  EXPECT_NE(refusal([&] { check_output_dir(o); }).find("is not a directory"), std::string::npos);
}

}  // namespace
