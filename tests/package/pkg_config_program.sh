# shellcheck shell=bash
# Sourced by the package tests: a small program built from the pkg-config
# file alone, the way a user builds against an installed library.
#
#   check_pkg_config_program SCRATCH [COMPILER_FLAGS...]
#
# Compiles SCRATCH/version with `pkg-config --cflags --libs strellix` (as
# PKG_CONFIG_PATH finds it) and the flags given, runs it, and fails unless it
# prints the library's version and the default layer count.
check_pkg_config_program() {
  local scratch="$1"
  shift
  cat >"$scratch/version.cpp" <<'CPP'
#include <strellix/strellix.hpp>
#include <cstdio>
int main() {
  strellix::Subtractor s;
  std::printf("%s %d\n", strellix::version(), s.parameters().layers);
  return 0;
}
CPP
  # shellcheck disable=SC2046  # pkg-config prints a list of flags
  g++ -std=c++17 "$scratch/version.cpp" -o "$scratch/version" $(pkg-config --cflags --libs strellix) "$@"
  "$scratch/version" >"$scratch/version.out"
  grep -q '^[0-9]*\.[0-9]*\.[0-9]* 5$' "$scratch/version.out" || {
    echo "the pkg-config program printed: $(cat "$scratch/version.out")" >&2
    return 1
  }
}
