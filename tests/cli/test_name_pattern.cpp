// Numbered file names: a pattern is parsed once, formats numbers as printf
// would, and reads back only the spelling it writes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "cli/name_pattern.h"

using namespace strellix::cli;

namespace {

NamePattern parsed(const std::string& text) {
  NamePattern pattern;
  EXPECT_TRUE(parse_name_pattern(text, &pattern)) << text;
  return pattern;
}

TEST(NamePattern, FormatsAsPrintfDoes) {
  for (const char* text : {"in%d.jpg", "gt%06d.png", "bin%.6d.png", "a%5d", "a%05.3d", "%%x%3.2d%%"}) {
    const NamePattern pattern = parsed(text);
    for (long long number : {0LL, 7LL, -7LL, 123456LL, 1234567LL}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, text, static_cast<int>(number));
      EXPECT_EQ(format_name(pattern, number), expected) << text << " " << number;
    }
  }
  EXPECT_EQ(format_name(parsed("f%d"), LLONG_MIN), "f" + std::to_string(LLONG_MIN));
}

TEST(NamePattern, RefusesPatternsWithoutExactlyOneIntegerField) {
  NamePattern pattern;
  for (const char* text : {"frame.png", "%d%d.png", "%s.png", "%x.png", "%-5d.png", "%ld.png", "100%", "%%d"})
    EXPECT_FALSE(parse_name_pattern(text, &pattern)) << text;
}

TEST(NamePattern, ReadsBackOnlyTheSpellingItWrites) {
  const NamePattern padded = parsed("gt%06d.png");
  long long number = 0;
  EXPECT_TRUE(number_of_name(padded, "gt000042.png", &number));
  EXPECT_EQ(number, 42);
  EXPECT_TRUE(number_of_name(padded, "gt-00042.png", &number));
  EXPECT_EQ(number, -42);
  for (const char* other : {"gt42.png", "gt0000042.png", "gt00004x.png", "gt000042.jpg", "xgt000042.png",
                            "gt.png", "gt+00042.png", "gt99999999999999999999.png"})
    EXPECT_FALSE(number_of_name(padded, other, &number)) << other;
  const NamePattern plain = parsed("f%d.png");
  EXPECT_TRUE(number_of_name(plain, "f7.png", &number));
  EXPECT_FALSE(number_of_name(plain, "f07.png", &number));
  EXPECT_FALSE(number_of_name(plain, "f 7.png", &number));
}

}  // namespace
