#!/usr/bin/env bash
# The Python benchmark in one command: builds the module and bench_apply
# (Release, in build-bench) and runs bench/bench_python.py with the
# interpreter the module was built for. Arguments go to bench_python.py.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd -P)"
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_BENCH=ON -DSTRELLIX_TESTS=OFF \
  -DSTRELLIX_PYTHON=ON >/dev/null
cmake --build "$build" -j2 --target bench_apply strellix_python >/dev/null
python="$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")"
exec "$python" "$root/bench/bench_python.py" --build "$build" "$@"
