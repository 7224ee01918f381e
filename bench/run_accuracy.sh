#!/usr/bin/env bash
# The accuracy study of docs/choosing-parameters.md in one command: builds
# strellix (Release, in build), runs the parameter sweeps and OpenCV's
# subtractors on the shared sequences, and writes the tables into
# bench/results/accuracy_tables.md. Results already in bench/results/*.csv
# are kept and not run again: delete the CSV files to measure afresh (about
# six hours on two busy cores). Without ../shared/data it says so and exits
# with 0.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd -P)"
data="${SHARED_DATA:-$root/../shared/data}"
if [ ! -d "$data/highway" ]; then
  echo "no shared sequences in $data: nothing to measure"
  exit 0
fi
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j2 --target strellix_cli >/dev/null
python=/usr/bin/python3
sweep() { "$python" "$root/bench/sweep_parameters.py" "$@"; }

# One parameter at a time around the defaults, on every sequence.
sweep --grid "threshold=0.001,0.002,0.003,0.004,0.005,0.007,0.01,0.015,0.02,0.03,0.05" \
  --grid "width_2d=0,1,2,3,4" --grid "width_1d=0,1,2,3" \
  --grid "learning_rate=0.01,0.02,0.05,0.1,0.2,0.3,0.5" --grid "layers=1,2,3,5,7,10" \
  --grid "median_frames=10,25,50,100,200"
# Finer grids where the coarse sweep pointed, per sequence.
sweep --sequences sbi_HallAndMonitor \
  --grid "median_frames=25,40,50,60,75 width_2d=0,1 threshold=0.003,0.004,0.005,0.007 layers=3,5"
sweep --sequences highway \
  --grid "threshold=0.002,0.0025,0.003,0.0035,0.004 median_frames=100,200,400,800 layers=3,5 width_1d=1,3"
# The steady scenes together (the calm preset is chosen among these).
sweep --sequences sbi_HallAndMonitor,highway \
  --grid "layers=3 width_2d=0 threshold=0.003,0.004 median_frames=50,200"
# The hard scenes together, with larger clean-up kernels (the dynamic preset).
sweep --sequences fall_partial,traffic_partial --post-median 0,3,5,7,9,11,15 \
  --grid "threshold=0.015,0.02,0.03,0.05 width_2d=1,2,3 learning_rate=0.1" \
  --grid "threshold=0.015 width_2d=1,2,3 learning_rate=0.05,0.2" \
  --grid "layers=7,10 width_2d=2 threshold=0.015,0.02 learning_rate=0.1"
# The presets (accuracy_tables.py's PRESETS) on every sequence.
sweep --grid "layers=3 width_2d=0 threshold=0.004" --grid "width_2d=2 threshold=0.015 learning_rate=0.1"

"$python" "$root/bench/compare_subtractors.py"
# The two best on the hard scenes get the larger kernels too.
"$python" "$root/bench/compare_subtractors.py" --methods MOG2,KNN \
  --sequences fall_partial,traffic_partial --post-median 0,3,5,7,9,11,15
"$python" "$root/bench/accuracy_tables.py" >"$root/bench/results/accuracy_tables.md"
"$python" "$root/bench/accuracy_plots.py"
echo "tables: $root/bench/results/accuracy_tables.md; curves: $root/docs/curve-*.png"
