#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#
#   tools/run_tests.sh              Release build in build/
#   tools/run_tests.sh --sanitize   AddressSanitizer and UBSan build in
#                                   build-asan/; any finding fails the run
#
# BUILD_DIR and CMAKE_EXTRA_ARGS override the build directory and add
# configure arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=0
case "${1:-}" in
  --sanitize) sanitize=1 ;;
  "") ;;
  *) echo "usage: tools/run_tests.sh [--sanitize]" >&2; exit 2 ;;
esac
tools/install_deps.sh
if [ $sanitize -eq 1 ]; then
  build="${BUILD_DIR:-build-asan}"
  # Optimised but with line tables, so that a report points at the source.
  config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTRELLIX_SANITIZE=ON)
  # Leaks that are the system libraries' own, excused only for allocations
  # made below them: OpenCV's camera probing (libgphoto2, tried when a video
  # file cannot be opened) keeps its device list, and the window toolkit's
  # D-Bus thread and font configuration keep theirs. The full unwind on
  # malloc is what lets the rules see those libraries in the stack.
  mkdir -p "$build"
  suppressions="$(cd "$build" && pwd)/lsan.supp"
  printf 'leak:%s\n' libgphoto2_port.so libgphoto2.so libdbus-1.so libfontconfig.so \
    >"$suppressions"
  # The spawned program and tools inherit these, so their findings fail too.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1:check_initialization_order=1}"
  export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$suppressions:print_suppressions=0}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
else
  build="${BUILD_DIR:-build}"
  config=(-DCMAKE_BUILD_TYPE=Release)
fi
# The Python module is built, and tested, for the interpreter that sees the
# Debian packages tools/install_deps.sh installed.
config+=(-DSTRELLIX_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3)
# shellcheck disable=SC2086  # CMAKE_EXTRA_ARGS is a list of arguments
cmake -S . -B "$build" "${config[@]}" ${CMAKE_EXTRA_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
