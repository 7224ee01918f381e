// Fuzzing harness: arbitrary bytes as a search-mask file.

#include <cstdio>

#include "pgm_input.h"

using namespace strellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* problem = pgm_input_problem(data, size)) {
    std::fprintf(stderr, "read_pgm: %s\n", problem);
    std::abort();
  }
  return 0;
}
