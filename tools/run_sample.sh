#!/usr/bin/env bash
# Runs the program on a generated sample scene and scores its masks:
# installs what is missing, builds (BUILD_DIR, default build), writes the
# scene into out/sample, runs the program from out/sample-run and prints
# the metrics. Needs no terminal and no display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd -P)"
cd "$root"
tools/install_deps.sh
build="${BUILD_DIR:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target Strellixplus make_sample_scene evaluate_masks

frames=150
"$build/make_sample_scene" out/sample --frames "$frames"
rm -rf out/sample-run
mkdir -p out/sample-run
echo "running Strellixplus on out/sample (log: out/sample-run/strellix.log)"
# Detached from any terminal, so the final key wait returns at once. The
# median takes the default 100 frames, which the scene keeps mostly empty.
set +e
(cd out/sample-run && exec setsid "$build/Strellixplus" ../sample/frame -end "$frames" -SmodBG \
   </dev/null >strellix.log 2>&1) &
child=$!
trap 'kill "$child" 2>/dev/null' INT TERM
wait "$child"
status=$?
trap - INT TERM
set -e
if [ $status -ne 0 ]; then
  tail -n 5 out/sample-run/strellix.log >&2
  echo "run_sample: Strellixplus ended with exit code $status" >&2
  exit 1
fi
"$build/evaluate_masks" out/sample-run out/sample/groundtruth
