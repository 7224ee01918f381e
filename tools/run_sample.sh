#!/usr/bin/env bash
# The quick start on a generated sample scene: installs what is missing,
# builds (BUILD_DIR, default build), writes the scene into out/sample, runs
# `strellix segment` on it into out/sample-run (masks, the seed, the model
# after every 30th frame, an overlay video, run.json) and prints the
# metrics of `strellix evaluate`. Needs no terminal and no display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd -P)"
cd "$root"
tools/install_deps.sh
build="${BUILD_DIR:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target strellix_cli make_sample_scene

"$build/make_sample_scene" out/sample --frames 150
# The median takes the default 100 frames, which the scene keeps mostly
# empty; --overwrite replaces the files of an earlier run of this script.
"$build/strellix" segment 'out/sample/frame%d.png' -o out/sample-run --overwrite \
  --overlay overlay.mp4 --background-every 30
"$build/strellix" evaluate out/sample-run out/sample/groundtruth
