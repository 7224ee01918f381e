#include "driver/switches.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/console.h"
#include "driver/run_state.h"

namespace strellix {

namespace {

void end_process(int code) {
  std::exit(code);
}

}  // namespace

void (*switch_exit_hook)(int) = end_process;

namespace {

// Lowest position wins; entry 0 is the program's own name.
int find_switch(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] && std::strcmp(argv[i], name) == 0) return i;
  }
  return -1;
}

// Takes entries first .. first+count-1 out; the vector stays terminated by a
// null entry, as a program's argument vector is.
void remove_entries(int& argc, char** argv, int first, int count) {
  for (int j = first + count; j < argc; ++j) argv[j - count] = argv[j];
  argc -= count;
  argv[argc] = nullptr;
}

[[noreturn]] void fail_switch(const char* reader, const char* text, const char* name) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: Manca arg. %s \"%s\"\n", reader, text, name);
  switch_exit_hook(2);
  std::exit(2);
}

int saturate_to_int(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

const char* Lread_switch(int& argc, char** argv, const char* name, int k, const char* absent_result) {
  if (k < 0) k = 0;
  const int i = find_switch(argc, argv, name);
  if (i < 0) return absent_result;
  // Written as a subtraction so that no large k can overflow the test.
  if (k >= argc - i) fail_switch("Lread_switch", "dopo", name);

  const char* result = argv[k > 0 ? i + 1 : i];
  if (k > 1) {
    // The joined values must outlive this call, as the single ones do.
    static std::string joined;
    joined = argv[i + 1];
    for (int j = 2; j <= k; ++j) {
      joined += ' ';
      joined += argv[i + j];
    }
    result = joined.c_str();
  }
  remove_entries(argc, argv, i, k + 1);
  return result;
}

int Lread_iswitch(int& argc, char** argv, const char* name, int default_value) {
  const char* s = Lread_switch(argc, argv, name, 1, nullptr);
  if (!s) return default_value;
  char* stop = nullptr;
  const long value = std::strtol(s, &stop, 0);
  if (*stop != '\0') fail_switch("Lread_iswitch", "per", name);
  return saturate_to_int(value);
}

double Lread_dswitch(int& argc, char** argv, const char* name, double default_value) {
  const char* s = Lread_switch(argc, argv, name, 1, nullptr);
  if (!s) return default_value;
  char* stop = nullptr;
  const double value = std::strtod(s, &stop);
  if (*stop != '\0') fail_switch("Lread_dswitch", "per", name);
  return value;
}

int read_flag_switch(int& argc, char** argv, const char* name) {
  return Lread_switch(argc, argv, name, 0, nullptr) != nullptr ? 1 : 0;
}

// The defaults shown are those the switches take: the library's for the
// model, the run's own for the frame range.
void print_usage() {
  const RunSettings run;
  const Parameters model;
  static const char* const head[] = {
      "Strellixplus: implementation of Strellix+ algorithm\n\n",
      "  Background subtraction with a layered background model: every pixel\n",
      "  keeps several candidate background colours in a cone-shaped space of\n",
      "  hue, saturation and value; darker versions of a layer count as shadow;\n",
      "  background pixels teach their image neighbourhood and nearby layers;\n",
      "  the model starts from the per-pixel temporal median of the first frames.\n\n",
      "Usage:\n\n",
      "  Strellixplus <SeqName> [Parameters]\n\n",
      "<SeqName>:     sequence name (complete path)\n",
      "[parameters]:  optional, including:\n",
  };
  for (const char* line : head) console_print("%s", line);
  console_print("  -ini #:    Number of first sequence frame. Default %d\n", run.ini);
  console_print("  -end #:    Number of last sequence frame. Default %d\n", run.end);
  console_print("  -n #:      Number of model layers. Default %d\n", model.layers);
  console_print("  -F #:\t     Number of initial frames for model initialization. Default %d\n",
                model.median_frames);
  console_print("  -e #:      Segmentation threshold in Eq. (10). Default %g\n", model.threshold);
  console_print("  -w2d #:    Halfwidth of 2D neighborhood for model update in Eq. (4). Default %d\n",
                model.width_2d);
  console_print("  -w1d #:    Halfwidth of 1D neighborhood for model update in Eq. (6). Default %d\n",
                model.width_1d);
  console_print("  -lr #:     Learning rate gamma=ni in Eqs. (5) and (7). Default %g\n", model.learning_rate);
  console_print("  -Boot #:   Read from file the initial background (1) or\n");
  console_print("             compute it through temporal median (0). Default %d\n", run.Boot);
  console_print("  -SmaskMOD: To save the MOD masks. Default: save\n");
  console_print("  -SmodBG:   To save the BG models. Default: do not save\n");
}

}  // namespace strellix
