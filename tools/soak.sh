#!/usr/bin/env bash
# Soak run: many small generated frames through one run, resident memory
# sampled while it goes. Memory must stay flat once the run is under way.
#
#   tools/soak.sh [FRAMES] [WIDTH] [HEIGHT]      (defaults 20000 32 24)
#
# BUILD_DIR (default build) must hold Strellixplus and make_sample_scene.
# Prints one line per sample (seconds, frames done, VmRSS in kB), then a
# summary. Everything is made in a scratch directory that is removed.
set -euo pipefail
cd "$(dirname "$0")/.."
frames="${1:-20000}"
width="${2:-32}"
height="${3:-24}"
build="${BUILD_DIR:-build}"
program="$build/Strellixplus"
generator="$build/make_sample_scene"
for tool in "$program" "$generator"; do
  [ -x "$tool" ] || { echo "soak: $tool not built" >&2; exit 2; }
done

scratch="$(mktemp -d "${TMPDIR:-/tmp}/strellix-soak-XXXXXX")"
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

echo "soak: generating $frames frames of ${width}x${height} ..."
"$generator" "$scratch/scene" --frames "$frames" --width "$width" --height "$height" >/dev/null
mkdir "$scratch/work"

program_path="$(realpath "$program")"
(cd "$scratch/work" && exec "$program_path" "$scratch/scene/frame" \
   -F 50 -end "$frames" </dev/null >"$scratch/run.out" 2>"$scratch/run.err") &
pid=$!

samples="$scratch/samples"
SECONDS=0
while kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$rss" ] || break
  done_frames=$(find "$scratch/work" -maxdepth 1 -name 'bin*.png' | wc -l)
  printf '%5d s  %6d frames  %7d kB\n' "$SECONDS" "$done_frames" "$rss" | tee -a "$samples"
  sleep 1
done
set +e
wait "$pid"
code=$?
set -e
pid=""

echo "soak: exit code $code, $(find "$scratch/work" -maxdepth 1 -name 'bin*.png' | wc -l) masks"
# Skip the first tenth of the samples: the model and the libraries settle in.
awk -v total="$(wc -l <"$samples")" '
  { n++; if (n <= total / 10) next; kb = $5; if (!m || kb < lo) lo = kb; if (kb > hi) hi = kb; if (!m) first = kb; last = kb; m++ }
  END { if (m) printf "soak: RSS after warm-up: first %d kB, min %d kB, max %d kB, last %d kB (%d samples)\n", first, lo, hi, last, m }
' "$samples"
[ "$code" -eq 0 ]
