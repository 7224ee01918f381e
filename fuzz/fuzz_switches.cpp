// Fuzzing harness: arbitrary argument vectors for the switch readers.

#include <cstdio>
#include <cstdlib>

#include "switch_input.h"

using namespace strellix;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  install_throwing_exit_hook();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* problem = switch_input_problem(data, size)) {
    std::fprintf(stderr, "switches: %s\n", problem);
    std::abort();
  }
  return 0;
}
