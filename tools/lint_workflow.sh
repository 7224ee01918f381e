#!/usr/bin/env bash
# snakemake --lint on the batch workflow. Linting reads the workflow as a
# run does, so it is given a small batch of its own whose inputs exist (an
# empty file stands for a video: nothing is run). Exit status 1 on any lint.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch="$(mktemp -d "${TMPDIR:-/tmp}/strellix-lint.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/clip.mp4"
mkdir "$scratch/sequence"
cat >"$scratch/batch.yaml" <<'BATCH'
inputs: {clip: {source: clip.mp4, groundtruth: sequence}}
sweep: {grid: {threshold: [0.005, 0.01], width_2d: [1, 2]}}
BATCH
/usr/bin/python3 -m snakemake -s workflow/Snakefile --lint --config batch="$scratch/batch.yaml"
