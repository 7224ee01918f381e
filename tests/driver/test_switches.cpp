#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "driver/switches.h"
#include "support/usage_text.h"

using namespace strellix;

namespace {

// A mutable argument vector, null-terminated like a program's own.
struct ArgVector {
  std::vector<std::string> text;
  std::vector<char*> entries;
  int argc = 0;

  explicit ArgVector(std::vector<std::string> args) : text(std::move(args)) {
    for (std::string& s : text) entries.push_back(s.data());
    entries.push_back(nullptr);
    argc = static_cast<int>(text.size());
  }
  char** argv() { return entries.data(); }
  std::vector<std::string> remaining() const {
    std::vector<std::string> left;
    for (int i = 0; i < argc; ++i) left.emplace_back(entries[i]);
    return left;
  }
};

// The driver's settings, read in the driver's order.
struct Read {
  int ini, end, n, w1d, w2d;
  double e;
  int F;
  double lr;
  int smask, smodbg, video, show_mask, skip, boot;
};

Read read_all(ArgVector& a) {
  Read r{};
  r.ini = Lread_iswitch(a.argc, a.argv(), "-ini", 1);
  r.end = Lread_iswitch(a.argc, a.argv(), "-end", 2);
  r.n = Lread_iswitch(a.argc, a.argv(), "-n", 5);
  r.w1d = Lread_iswitch(a.argc, a.argv(), "-w1d", 1);
  r.w2d = Lread_iswitch(a.argc, a.argv(), "-w2d", 1);
  r.e = Lread_dswitch(a.argc, a.argv(), "-e", 0.005);
  r.F = Lread_iswitch(a.argc, a.argv(), "-F", 100);
  r.lr = Lread_dswitch(a.argc, a.argv(), "-lr", 0.05);
  r.smask = Lread_iswitch(a.argc, a.argv(), "-SmaskMOD", 1);
  r.smodbg = read_flag_switch(a.argc, a.argv(), "-SmodBG");
  r.video = read_flag_switch(a.argc, a.argv(), "-f");
  r.show_mask = Lread_iswitch(a.argc, a.argv(), "-ShowMask", 0);
  r.skip = Lread_iswitch(a.argc, a.argv(), "-skip", 1);
  r.boot = Lread_iswitch(a.argc, a.argv(), "-Boot", 0);
  return r;
}

int read_n(const std::string& value) {
  ArgVector a({"prog", "seq", "-n", value});
  return Lread_iswitch(a.argc, a.argv(), "-n", 5);
}

double read_lr(const std::string& value) {
  ArgVector a({"prog", "seq", "-lr", value});
  return Lread_dswitch(a.argc, a.argv(), "-lr", 0.05);
}

void read_all_of(std::vector<std::string> args) {
  ArgVector a(std::move(args));
  read_all(a);
}

void read_percent_switch() {
  ArgVector a({"prog", "seq", "-%s%n"});
  Lread_switch(a.argc, a.argv(), "-%s%n", 1, nullptr);
}

}  // namespace

TEST(Switches, DefaultsAndFullCommandLineInDriverOrder) {
  ArgVector plain({"prog", "seq"});
  Read d = read_all(plain);
  EXPECT_EQ(d.ini, 1);
  EXPECT_EQ(d.end, 2);
  EXPECT_EQ(d.n, 5);
  EXPECT_EQ(d.F, 100);
  EXPECT_EQ(d.e, 0.005);
  EXPECT_EQ(d.lr, 0.05);
  EXPECT_EQ(d.smask, 1);
  EXPECT_EQ(d.smodbg + d.video + d.show_mask + d.boot, 0);
  EXPECT_EQ(plain.remaining(), (std::vector<std::string>{"prog", "seq"}));

  ArgVector a({"prog",      "data/seq", "-Boot",   "1",         "-f",   "-skip", "4",
               "-ShowMask", "1",        "-SmodBG", "-SmaskMOD", "0",    "-lr",   "0.1",
               "-F",        "20",       "-e",      "0.02",      "-w2d", "2",     "-w1d",
               "0",         "-n",       "3",       "-end",      "50",   "-ini",  "7"});
  Read r = read_all(a);
  EXPECT_EQ(r.ini, 7);
  EXPECT_EQ(r.end, 50);
  EXPECT_EQ(r.n, 3);
  EXPECT_EQ(r.w1d, 0);
  EXPECT_EQ(r.w2d, 2);
  EXPECT_EQ(r.e, 0.02);
  EXPECT_EQ(r.F, 20);
  EXPECT_EQ(r.lr, 0.1);
  EXPECT_EQ(r.smask, 0);
  EXPECT_EQ(r.smodbg, 1);
  EXPECT_EQ(r.video, 1);
  EXPECT_EQ(r.show_mask, 1);
  EXPECT_EQ(r.skip, 4);
  EXPECT_EQ(r.boot, 1);
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"prog", "data/seq"}));
  EXPECT_EQ(a.argv()[a.argc], nullptr);
}

TEST(Switches, NamesMatchWholeAndExactly) {
  ArgVector both({"prog", "seq", "-e", "0.01", "-end", "9"});
  Read r = read_all(both);
  EXPECT_EQ(r.end, 9);
  EXPECT_EQ(r.e, 0.01);

  ArgVector end_only({"prog", "seq", "-end", "9"});
  r = read_all(end_only);
  EXPECT_EQ(r.end, 9);
  EXPECT_EQ(r.e, 0.005);

  // -F and -f are different switches; -Ini is not -ini.
  ArgVector cased({"prog", "seq", "-F", "7", "-Ini", "3"});
  r = read_all(cased);
  EXPECT_EQ(r.F, 7);
  EXPECT_EQ(r.video, 0);
  EXPECT_EQ(r.ini, 1);
  EXPECT_EQ(cased.remaining(), (std::vector<std::string>{"prog", "seq", "-Ini", "3"}));
}

TEST(Switches, RepeatsAndUnknownWordsStayInTheVector) {
  ArgVector a({"prog", "seq", "-x", "5", "-n", "3", "word", "-n", "4"});
  EXPECT_EQ(Lread_iswitch(a.argc, a.argv(), "-n", 5), 3);
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"prog", "seq", "-x", "5", "word", "-n", "4"}));
  EXPECT_EQ(a.argv()[a.argc], nullptr);

  // An absent switch changes nothing.
  EXPECT_EQ(Lread_iswitch(a.argc, a.argv(), "-ini", -8), -8);
  EXPECT_EQ(a.argc, 7);

  // A flag does not take the word after it.
  ArgVector f({"prog", "seq", "-f", "1"});
  EXPECT_EQ(read_flag_switch(f.argc, f.argv(), "-f"), 1);
  EXPECT_EQ(f.remaining(), (std::vector<std::string>{"prog", "seq", "1"}));
  EXPECT_EQ(read_flag_switch(f.argc, f.argv(), "-f"), 0);
}

TEST(Switches, SearchStartsAtTheSequenceName) {
  ArgVector a({"prog", "-n", "7"});
  EXPECT_EQ(Lread_iswitch(a.argc, a.argv(), "-n", 5), 7);
  EXPECT_EQ(a.argc, 1);
  EXPECT_EQ(a.argv()[1], nullptr);

  // Entry 0 is never searched.
  ArgVector b({"-n", "seq"});
  EXPECT_EQ(Lread_iswitch(b.argc, b.argv(), "-n", 5), 5);
  EXPECT_EQ(b.argc, 2);
}

TEST(Switches, GenericReaderValueCounts) {
  ArgVector a({"prog", "seq", "-flag", "-pair", "a", "b c", "tail"});
  const char* absent = "absent";
  EXPECT_EQ(Lread_switch(a.argc, a.argv(), "-none", 1, absent), absent);
  EXPECT_EQ(Lread_switch(a.argc, a.argv(), "-none", 0, nullptr), nullptr);

  const char* flag = Lread_switch(a.argc, a.argv(), "-flag", 0, nullptr);
  ASSERT_NE(flag, nullptr);
  EXPECT_STREQ(flag, "-flag");

  const char* pair = Lread_switch(a.argc, a.argv(), "-pair", 2, nullptr);
  ASSERT_NE(pair, nullptr);
  EXPECT_STREQ(pair, "a b c");
  EXPECT_EQ(a.remaining(), (std::vector<std::string>{"prog", "seq", "tail"}));
  EXPECT_EQ(a.argv()[a.argc], nullptr);
}

TEST(Switches, IntegerValuesFollowBaseZeroConversionAndSaturate) {
  EXPECT_EQ(read_n("0x10"), 16);
  EXPECT_EQ(read_n("0X1f"), 31);
  EXPECT_EQ(read_n("010"), 8);
  EXPECT_EQ(read_n("+7"), 7);
  EXPECT_EQ(read_n("-3"), -3);
  EXPECT_EQ(read_n("  12"), 12);
  EXPECT_EQ(read_n(""), 0);
  EXPECT_EQ(read_n("2147483647"), INT_MAX);
  EXPECT_EQ(read_n("2147483648"), INT_MAX);
  EXPECT_EQ(read_n("99999999999"), INT_MAX);
  EXPECT_EQ(read_n("99999999999999999999999"), INT_MAX);
  EXPECT_EQ(read_n("-99999999999"), INT_MIN);
  EXPECT_EQ(read_n("-2147483648"), INT_MIN);

  ArgVector neg({"prog", "seq", "-ini", "-3"});
  EXPECT_EQ(read_all(neg).ini, -3);
}

TEST(Switches, RealValuesFollowTheDecimalConversion) {
  EXPECT_EQ(read_lr("1e-2"), 0.01);
  EXPECT_EQ(read_lr("0.25"), 0.25);
  EXPECT_EQ(read_lr("-.5"), -0.5);
  EXPECT_EQ(read_lr(""), 0.0);
  ArgVector absent({"prog", "seq"});
  EXPECT_EQ(Lread_dswitch(absent.argc, absent.argv(), "-lr", 0.05), 0.05);
}

TEST(SwitchesDeathTest, UnusableValuesEndWithCodeTwoAndTheMessage) {
  const auto code2 = testing::ExitedWithCode(2);
  EXPECT_EXIT(read_n("12abc"), code2, "^Lread_iswitch: Manca arg\\. per \"-n\"\n$");
  EXPECT_EXIT(read_n("abc"), code2, "^Lread_iswitch: Manca arg\\. per \"-n\"\n$");
  EXPECT_EXIT(read_n("12 "), code2, "^Lread_iswitch: Manca arg\\. per \"-n\"\n$");
  EXPECT_EXIT(read_n("-"), code2, "^Lread_iswitch: Manca arg\\. per \"-n\"\n$");
  EXPECT_EXIT(read_n("1.5"), code2, "^Lread_iswitch: Manca arg\\. per \"-n\"\n$");
  EXPECT_EXIT(read_lr("0.05x"), code2, "^Lread_dswitch: Manca arg\\. per \"-lr\"\n$");
  EXPECT_EXIT(read_lr("x"), code2, "^Lread_dswitch: Manca arg\\. per \"-lr\"\n$");

  // A final switch that needs a value.
  EXPECT_EXIT(read_all_of({"prog", "seq", "-n", "3", "-end"}), code2,
              "^Lread_switch: Manca arg\\. dopo \"-end\"\n$");
  EXPECT_EXIT(read_all_of({"prog", "-e"}), code2, "^Lread_switch: Manca arg\\. dopo \"-e\"\n$");
  // A value that looks like a switch is still the value.
  EXPECT_EXIT(read_all_of({"prog", "seq", "-ini", "-end", "5"}), code2,
              "^Lread_iswitch: Manca arg\\. per \"-ini\"\n$");
  EXPECT_EXIT(read_all_of({"prog", "seq", "-SmaskMOD", "-f"}), code2,
              "^Lread_iswitch: Manca arg\\. per \"-SmaskMOD\"\n$");
  // A name holding a conversion specifier is printed as text.
  EXPECT_EXIT(read_all_of({"prog", "seq", "-%s%n", "-n"}), code2,
              "^Lread_switch: Manca arg\\. dopo \"-n\"\n$");
  EXPECT_EXIT(read_percent_switch(), code2, "^Lread_switch: Manca arg\\. dopo \"-%s%n\"\n$");
}

TEST(Switches, UsageTextIsExact) {
  testing::internal::CaptureStdout();
  print_usage();
  const std::string text = testing::internal::GetCapturedStdout();

  const std::string head = USAGE_HEAD;
  ASSERT_EQ(text.compare(0, head.size(), head), 0);
  // Five reference lines, each indented by two blanks, then an empty line.
  std::string::size_type pos = head.size();
  for (int line = 0; line < 5; ++line) {
    const std::string::size_type end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(text.compare(pos, 2, "  "), 0) << "reference line " << line;
    EXPECT_GT(end - pos, 2u);
    pos = end + 1;
  }
  ASSERT_LT(pos, text.size());
  EXPECT_EQ(text[pos], '\n');
  EXPECT_EQ(text.substr(pos + 1), USAGE_TAIL);
}
