#!/usr/bin/env bash
# The speed benchmark in one command: builds the program and the benchmarks
# (Release, in build-bench), prepares the highway frames in a scratch
# directory outside the project, then times the passes, OpenCV's
# subtractors, the unavoidable I/O and whole runs of the program, and prints
# the table and the ratios; the same for a generated 1920x1080 scene, and the
# peak memory of runs at 1920x1080 and 3840x2160; the fast numerics beside
# the exact ones at every size; and, where ffmpeg can make it, whole runs of
# `strellix segment --numerics fast` on vtest.avi scaled to a 1920x1080
# H.264 clip (made once in the scratch directory), writing a mask video.
# Takes about a quarter of an hour on two cores, more with --contention
# (every sequence measured again beside a process streaming through memory
# on the other core).
#
#   bench/run_bench.sh [bench_stages options, e.g. --reps 3 --runs 1 --contention]
#
# Skips with a message and exit code 0 when the shared data is absent.
# SHARED_DATA (default: ../shared/data beside the checkout) and
# BENCH_SCRATCH (default: ${TMPDIR:-/tmp}/strellix-bench) can be set.
# BENCH_BASELINE=COMMIT also builds the program of that commit (from a copy
# in the scratch directory) and times its runs alternating with this one's;
# both must then write the same masks.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd -P)"
data="${SHARED_DATA:-$root/../shared/data}"
scratch="${BENCH_SCRATCH:-${TMPDIR:-/tmp}/strellix-bench}"
build="$root/build-bench"

if [ ! -d "$data/highway/input" ]; then
  echo "run_bench: no highway frames under $data: benchmark skipped"
  exit 0
fi
scratch="$(realpath -m "$scratch")"
case "$scratch/" in
  "$root"/*)
    echo "run_bench: the scratch directory $scratch lies inside the project; choose another" >&2
    exit 2 ;;
esac
mkdir -p "$scratch"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_BENCH=ON \
  -DSTRELLIX_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target Strellixplus strellix strellix_cli convert_frames bench_stages bench_selfcheck \
  make_sample_scene >/dev/null
# The benchmark's own helpers first: its checks are only as good as they are.
"$build/bench_selfcheck"

BUILD_DIR="$build" "$root/tools/prepare_sequence.sh" "$data/highway" "$scratch/highway" in \
  >/dev/null
# Generated scenes for the high resolutions, made once: 1920x1080 for the
# passes and whole runs, 3840x2160 (BENCH_UHD=0 leaves it out) for the peak
# memory of a run with the median of 100 frames.
scene() {  # DIR WIDTH HEIGHT FRAMES
  if [ ! -f "$1/frame$4.png" ]; then
    "$build/make_sample_scene" "$1" --width "$2" --height "$3" --frames "$4" >/dev/null
  fi
}
scene "$scratch/hd" 1920 1080 140
hd_args=(--hd-frames "$scratch/hd/frame" --hd-frame-count 140)
if [ "${BENCH_UHD:-1}" != 0 ]; then
  scene "$scratch/uhd" 3840 2160 101
  hd_args+=(--uhd-frames "$scratch/uhd/frame" --uhd-end 101)
fi

# The clip of the fast numerics' whole runs: H.264, as cameras record.
clip_args=()
clip="$scratch/vtest_1080p.mp4"
if [ ! -f "$clip" ] && [ -f "$data/vtest.avi" ] && command -v ffmpeg >/dev/null; then
  ffmpeg -loglevel error -y -i "$data/vtest.avi" -vf scale=1920:1080 -c:v libx264 -pix_fmt yuv420p \
    "$clip.tmp.mp4" && mv "$clip.tmp.mp4" "$clip"
fi
if [ -f "$clip" ]; then
  clip_args=(--strellix "$build/strellix" --clip "$clip")
else
  echo "no ffmpeg with H.264 or no vtest.avi: the clip's whole runs are left out"
fi

baseline_args=()
if [ -n "${BENCH_BASELINE:-}" ]; then
  sha="$(git -C "$root" rev-parse --short "${BENCH_BASELINE}^{commit}")"
  base="$scratch/baseline-$sha"
  if [ ! -x "$base/build/Strellixplus" ]; then
    rm -rf "$base"
    mkdir -p "$base/src"
    git -C "$root" archive "$sha" | tar -x -C "$base/src"
    cmake -S "$base/src" -B "$base/build" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_TESTS=OFF >/dev/null
    cmake --build "$base/build" -j2 --target Strellixplus >/dev/null
  fi
  baseline_args=(--baseline-program "$base/build/Strellixplus")
  echo "baseline: $(git -C "$root" log -1 --format='%h %s' "$sha")"
fi

video="$data/vtest.avi"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "commit:  $(git -C "$root" log -1 --format='%h %s' 2>/dev/null || echo unknown)"
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no -- src 2>/dev/null)" ]; then
  echo "         (built with uncommitted changes under src/)"
fi
status=0
"$build/bench_stages" --frames "$scratch/highway/in" --video "$video" \
  --scratch "$scratch/work" --program "$build/Strellixplus" --end 1700 "${hd_args[@]}" \
  "${clip_args[@]}" "${baseline_args[@]}" "$@" \
  | tee "$scratch/bench_stages.txt" || status=$?
echo "(this output is also in $scratch/bench_stages.txt)"
exit "$status"
