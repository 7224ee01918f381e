#!/usr/bin/env bash
# Soak run: many small generated frames through one run, resident memory
# sampled while it goes. Memory must stay flat once the run is under way.
#
#   tools/soak.sh [FRAMES] [WIDTH] [HEIGHT]      (defaults 20000 32 24)
#
# SOAK_INTERVAL sets the seconds between samples (default 0.25).
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
interval="${SOAK_INTERVAL:-0.25}"
SECONDS=0
while kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$rss" ] || break
  done_frames=$(find "$scratch/work" -maxdepth 1 -name 'bin*.png' | wc -l)
  printf '%5d s  %6d frames  %7d kB\n' "$SECONDS" "$done_frames" "$rss" | tee -a "$samples"
  sleep "$interval"
done
set +e
wait "$pid"
code=$?
set -e
pid=""

echo "soak: exit code $code, $(find "$scratch/work" -maxdepth 1 -name 'bin*.png' | wc -l) masks"
# Samples before the first tenth of the frames are skipped: the model and
# the libraries settle in meanwhile.
awk -v warm="$((frames / 10))" '
  $3 < warm { next }
  { kb = $5; if (!m || kb < lo) lo = kb; if (kb > hi) hi = kb; if (!m) { first = kb; from = $3 } last = kb; to = $3; m++ }
  END { if (m) printf "soak: RSS from frame %d to frame %d: first %d kB, min %d kB, max %d kB, last %d kB (%d samples)\n", from, to, first, lo, hi, last, m }
' "$samples"
[ "$code" -eq 0 ]
