#!/usr/bin/env bash
# Puts the frames of a data sequence (input/in%06d.jpg or .png) under the
# names the program reads, DEST_DIR/PREFIX%d.png: JPEG frames are converted,
# PNG frames linked. DEST_DIR must lie outside the project tree; it defaults
# to a directory under ${TMPDIR:-/tmp}. A second run only redoes what changed.
#
#   tools/prepare_sequence.sh SRC_SEQ_DIR [DEST_DIR [PREFIX]]
#
# Prints "frames FIRST LAST COUNT" and the sequence name to hand the program.
# BUILD_DIR (default: build) is where the tools are built.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
  echo "usage: $0 SRC_SEQ_DIR [DEST_DIR [PREFIX]]" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd -P)"
src="$(cd "$1" && pwd -P)" || { echo "prepare_sequence: no directory $1" >&2; exit 1; }
name="$(basename "$src")"
dest="${2:-${TMPDIR:-/tmp}/strellix-seq/$name}"
prefix="${3:-in}"
case "$prefix" in
  */*|"") echo "prepare_sequence: PREFIX must be a plain file-name prefix" >&2; exit 2 ;;
esac
if [ ! -d "$src/input" ]; then
  echo "prepare_sequence: $src has no input/ directory" >&2
  exit 1
fi

# Data must never end up inside the repository.
dest="$(realpath -m "$dest")"
case "$dest/" in
  "$root"/*)
    echo "prepare_sequence: $dest lies inside the project; choose a directory outside it" >&2
    exit 2 ;;
esac
mkdir -p "$dest"

build="${BUILD_DIR:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target convert_frames >/dev/null

"$build/convert_frames" "$src/input" "$dest/$prefix"
echo "sequence name: $dest/$prefix"
