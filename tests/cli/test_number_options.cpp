// Numbers on the command line are read strictly, and the model's options
// take their ranges from the library.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "cli/number_options.h"
#include "cli/shared_options.h"
#include "strellix/strellix.hpp"

using namespace strellix::cli;

namespace {

TEST(NumberOptions, WholeNumbersAreDecimalAndWithinTheirRange) {
  EXPECT_EQ(read_whole_number("--n", "42", 0, 100), 42);
  EXPECT_EQ(read_whole_number("--n", "-3", -5, 5), -3);
  EXPECT_EQ(read_whole_number("--n", "+5", -5, 5), 5);
  for (const char* refused : {"", "0x10", "12x", " 7", "1e2", "-", "101", "-6", "99999999999999999999"})
    EXPECT_THROW(read_whole_number("--n", refused, -5, 100), CLI::ValidationError) << refused;
  try {
    read_whole_number("--layers", "0", 1, 9);
    ADD_FAILURE();
  } catch (const CLI::ValidationError& e) {
    EXPECT_NE(std::string(e.what()).find("--layers: needs a whole number from 1 to 9, not \"0\""),
              std::string::npos)
        << e.what();
  }
}

TEST(NumberOptions, RealNumbersAreFiniteAndWithinTheirRange) {
  EXPECT_EQ(read_real_number("--r", "0.25", 0.0, 1.0), 0.25);
  EXPECT_EQ(read_real_number("--r", "1e-2", 0.0, 1.0), 0.01);
  EXPECT_EQ(read_real_number("--r", "1", 0.0, 1.0), 1.0);
  for (const char* refused : {"", "nan", "inf", "-inf", " 0.5", "0.5x", "1.0001", "-0.1", "1e999"})
    EXPECT_THROW(read_real_number("--r", refused, 0.0, 1.0), CLI::ValidationError) << refused;
}

// The ends of each range the library defines are accepted, one step past
// them is refused, and an option left out keeps the library's default.
TEST(NumberOptions, ModelOptionsTakeTheLibrarysRangesAndDefaults) {
  auto parse = [](const std::vector<std::string>& args, strellix::Parameters& p) {
    CLI::App app;
    std::string background;
    add_model_options(app, p, background);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  };
  namespace r = strellix::ranges;
  strellix::Parameters p;
  parse({}, p);
  EXPECT_EQ(p.learning_rate, strellix::Parameters().learning_rate);
  EXPECT_EQ(p.layers, strellix::Parameters().layers);
  parse({"--learning-rate", std::to_string(r::learning_rate.most), "--threshold",
         std::to_string(r::threshold.most), "--width-2d", std::to_string(r::width_2d.most), "--threads",
         std::to_string(r::threads.most)},
        p);
  EXPECT_EQ(p.learning_rate, r::learning_rate.most);
  EXPECT_EQ(p.threshold, r::threshold.most);
  EXPECT_EQ(p.numerics, strellix::Numerics::exact);
  parse({"--numerics", r::numerics[1]}, p);
  EXPECT_EQ(p.numerics, strellix::Numerics::fast);
  const std::vector<std::vector<std::string>> refused = {
      {"--learning-rate", std::to_string(r::learning_rate.most * 1.01)},
      {"--learning-rate", "-0.01"},
      {"--threshold", std::to_string(r::threshold.most * 1.01)},
      {"--width-1d", std::to_string(r::width_1d.most + 1)},
      {"--width-2d", std::to_string(r::width_2d.most + 1)},
      {"--layers", std::to_string(r::layers.least - 1)},
      {"--median-frames", std::to_string(r::median_frames.least - 1)},
      {"--threads", std::to_string(r::threads.most + 1)},
      {"--numerics", "Fast"},
  };
  for (const auto& args : refused) {
    strellix::Parameters q;
    EXPECT_THROW(parse(args, q), CLI::ValidationError) << args[0] << " " << args[1];
  }
}

}  // namespace
