#!/usr/bin/env bash
# The quick start on a generated sample scene: installs what is missing,
# configures the shared build tree (BUILD_DIR, default build) and builds
# only what this needs, writes the scene into out/sample, runs `strellix
# segment` on it into out/sample-run (masks, the seed, the model after
# every 30th frame, an overlay video, run.json) and prints the metrics of
# `strellix evaluate`. Needs no terminal and no display.
set -euo pipefail
# shellcheck source=tools/build_tree.sh
source "$(dirname "$0")/build_tree.sh"
cd "$strellix_root"
tools/install_deps.sh
configure_build_tree
build="$(strellix_build_dir)"
cmake --build "$build" -j"$(nproc)" --target strellix_cli make_sample_scene

"$build/make_sample_scene" out/sample --frames 150
# The median takes the default 100 frames, which the scene keeps mostly
# empty; --overwrite replaces the files of an earlier run of this script.
"$build/strellix" segment 'out/sample/frame%d.png' -o out/sample-run --overwrite \
  --overlay overlay.mp4 --background-every 30
"$build/strellix" evaluate out/sample-run out/sample/groundtruth
say_where_strellix_is
