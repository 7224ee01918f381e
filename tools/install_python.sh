#!/usr/bin/env bash
# Installs the Python module `strellix` (with the library and the program)
# in one command: the Debian packages it needs, a Release build in
# build-install, `cmake --install`, and a check that the interpreter
# imports it from another directory.
#
#   tools/install_python.sh [PREFIX]     default /usr/local
#
# PYTHON=/path/to/python3 builds for that interpreter (it must import
# numpy); by default the first of `python3` on PATH and /usr/bin/python3
# that imports numpy. Root (or sudo) is needed for the packages and for a
# prefix the user cannot write.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="${1:-/usr/local}"
build="${BUILD_DIR:-build-install}"
tools/install_deps.sh
choice=()
if [ -n "${PYTHON:-}" ]; then choice=(-DPython3_EXECUTABLE="$PYTHON"); fi
mkdir -p "$build"
if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_TESTS=OFF -DSTRELLIX_PYTHON=ON \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${choice[@]}" >"$build/configure.log" 2>&1; then
  cat "$build/configure.log" >&2
  exit 1
fi
grep -- '-- Python module' "$build/configure.log"
cmake --build "$build" -j"$(nproc)"
SUDO=""
if [ "$(id -u)" -ne 0 ] && ! { mkdir -p "$prefix" 2>/dev/null && [ -w "$prefix" ]; }; then SUDO="sudo"; fi
$SUDO cmake --install "$build" >/dev/null

python="$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")"
module="$(grep '/strellix\.[^/]*\.so$' "$build/install_manifest.txt")"
site="$(dirname "$module")"
echo "installed $module"
if (cd / && "$python" -c 'import strellix' 2>/dev/null); then
  (cd / && "$python" -c 'import strellix; print("import strellix works for '"$python"': version", strellix.__version__)')
else
  (cd / && PYTHONPATH="$site" "$python" -c 'import strellix')
  echo "$python does not look into $site by itself: add it to PYTHONPATH"
fi
