// The run driver: owns the whole run and every buffer in it.
#pragma once

namespace strellix {

// Runs the program on the argument vector; the result is the exit code.
int run_program(int argc, char** argv);

}  // namespace strellix
