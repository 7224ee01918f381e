#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#
#   tools/run_tests.sh              Release build in build/, the tree that
#                                   tools/run_sample.sh and the install share
#   tools/run_tests.sh --sanitize   AddressSanitizer and UBSan build in
#                                   build-asan/; any finding fails the run
#
# BUILD_DIR and CMAKE_EXTRA_ARGS override the build directory and add
# configure arguments.
set -euo pipefail
# shellcheck source=tools/build_tree.sh
source "$(dirname "$0")/build_tree.sh"
cd "$strellix_root"
sanitize=0
case "${1:-}" in
  --sanitize) sanitize=1 ;;
  "") ;;
  *) echo "usage: tools/run_tests.sh [--sanitize]" >&2; exit 2 ;;
esac
tools/install_deps.sh
if [ $sanitize -eq 0 ]; then
  configure_build_tree
  build="$(strellix_build_dir)"
  cmake --build "$build" -j"$(nproc)"
  (cd "$build" && ctest --output-on-failure -j"$(nproc)")
  say_where_strellix_is
  exit 0
fi

# The sanitizer build has a tree of its own: instrumented code must not
# mix with the Release objects.
build="${BUILD_DIR:-build-asan}"
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
# Optimised but with line tables, so that a report points at the source.
# The Python module is built, and tested, for the interpreter that sees the
# Debian packages tools/install_deps.sh installed.
# shellcheck disable=SC2086  # CMAKE_EXTRA_ARGS is a list of arguments
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTRELLIX_SANITIZE=ON -DSTRELLIX_PYTHON=ON \
  -DPython3_EXECUTABLE=/usr/bin/python3 ${CMAKE_EXTRA_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
