#!/usr/bin/env bash
# Builds the fuzzing harnesses with clang and runs each for a fixed time.
#
#   tools/run_fuzzers.sh [seconds per harness] [harness ...]
#
# Seeds come from fuzz/corpus/<harness>/ (read only), with fuzz/<harness>.dict
# as the mutation dictionary where there is one; what the fuzzer learns
# goes to build-fuzz/corpus/<harness>/ and crash inputs to
# build-fuzz/findings/<harness>/. The harnesses run one after another on one
# core each. Exit status 1 when any harness found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
shift || true
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then harnesses=(read_pgm switches grab_frame state_file temporal_roi); fi
build="${FUZZ_BUILD_DIR:-build-fuzz}"

CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTRELLIX_FUZZ=ON \
  -DSTRELLIX_TESTS=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
cmake --build "$build" -j"${FUZZ_BUILD_JOBS:-2}" --target "${targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
status=0
for h in "${harnesses[@]}"; do
  corpus="$build/corpus/$h"
  findings="$build/findings/$h"
  mkdir -p "$corpus" "$findings"
  log="$build/fuzz_$h.log"
  dict=()
  if [ -f "fuzz/$h.dict" ]; then dict=(-dict="fuzz/$h.dict"); fi
  echo "== fuzz_$h for ${seconds}s (log: $log)"
  # -close_fd_mask=3: the readers' own messages would drown the fuzzer's.
  if ! "$build/fuzz_$h" "$corpus" "fuzz/corpus/$h" -max_total_time="$seconds" \
      -close_fd_mask=3 -rss_limit_mb=2048 -malloc_limit_mb=16384 -timeout=20 \
      -max_len="${FUZZ_MAX_LEN:-65536}" -artifact_prefix="$findings/" -print_final_stats=1 \
      "${dict[@]}" \
      >"$log" 2>&1; then
    echo "fuzz_$h: found something, see $log and $findings"
    status=1
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|Done )' "$log" || tail -n 5 "$log"
done
exit $status
