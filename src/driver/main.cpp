#include "driver/run.h"

int main(int argc, char** argv) {
  return strellix::run_program(argc, argv);
}
