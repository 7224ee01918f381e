#!/usr/bin/env bash
# Installs the Python module `strellix` with the library and the programs
# (strellix, Strellixplus, their man pages and bash completion) in one
# command: the Debian packages it needs, the shared build tree (build/, as
# tools/run_sample.sh and tools/run_tests.sh leave it: only what is missing
# is built), `cmake --install` (which updates the loader's cache for a
# system prefix), and a check that the interpreter imports the module from
# another directory.
#
#   tools/install_python.sh [PREFIX]     default /usr/local
#
# PYTHON=/path/to/python3 installs the module for that interpreter (it must
# import numpy); a module belongs to one interpreter, so one other than
# Debian's /usr/bin/python3 gets a tree of its own, build-install (or
# BUILD_DIR). Root (or sudo) is needed for the packages and for a prefix the
# user cannot write.
set -euo pipefail
# shellcheck source=tools/build_tree.sh
source "$(dirname "$0")/build_tree.sh"
cd "$strellix_root"
prefix="${1:-/usr/local}"
tools/install_deps.sh
if [ -n "${PYTHON:-}" ] && [ "$(realpath -q "$(command -v "$PYTHON")")" != "$(realpath /usr/bin/python3)" ]; then
  build="${BUILD_DIR:-build-install}"
  mkdir -p "$build"
  if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_TESTS=OFF -DSTRELLIX_PYTHON=ON \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DPython3_EXECUTABLE="$PYTHON" >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    exit 1
  fi
else
  configure_build_tree
  build="$(strellix_build_dir)"
fi
grep -- '-- Python module' "$build/configure.log"
cmake --build "$build" -j"$(nproc)" --target installable
SUDO=""
if [ "$(id -u)" -ne 0 ] && ! { mkdir -p "$prefix" 2>/dev/null && [ -w "$prefix" ]; }; then SUDO="sudo"; fi
# The install's own notes (the loader's cache) are shown; the file list is not.
installed="$($SUDO cmake --install "$build" --prefix "$prefix")"
grep -v -e '^-- Installing: ' -e '^-- Up-to-date: ' -e '^-- Install configuration' <<<"$installed" || true

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
echo "strellix is $prefix/bin/strellix, Strellixplus beside it; man strellix tells the rest"
if [ "$(command -v strellix || true)" != "$prefix/bin/strellix" ]; then
  echo "$prefix/bin is not first on PATH for strellix: add it, or run $prefix/bin/strellix"
fi
