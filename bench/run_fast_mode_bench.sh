#!/usr/bin/env bash
# The fast numeric mode's benchmark in one command: builds bench_fast_mode
# (Release, in build-bench) and runs it on the shared data: the F-measures
# of both modes on the four shared sequences and the agreement of their
# masks, then the online frame's cost beside MOG2's at 320x240, 768x576
# and 1920x1080. Arguments go to bench_fast_mode (--accuracy, --speed,
# --reps R, --frames K, --contention). SHARED_DATA overrides the data
# directory (default: ../shared/data beside the checkout). The output is
# also kept in ${TMPDIR:-/tmp}/strellix-bench/bench_fast_mode.txt.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd -P)"
build="$root/build-bench"
out="${TMPDIR:-/tmp}/strellix-bench"
mkdir -p "$out"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_BENCH=ON -DSTRELLIX_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_fast_mode >/dev/null
echo "commit:  $(git -C "$root" log -1 --format='%h %s' 2>/dev/null || echo unknown)"
SHARED_DATA="${SHARED_DATA:-$root/../shared/data}" "$build/bench_fast_mode" "$@" | tee "$out/bench_fast_mode.txt"
