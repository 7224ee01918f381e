#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it as a user would: the
# C++ example is configured and built out of tree against the installed CMake
# package and run on a generated scene (its masks must be the program's), and
# a small program is built from the pkg-config file alone.
#
#   tests/package/test_installed_package.sh BUILD_DIR SOURCE_DIR [EXTRA_CXX_FLAGS]
#
# EXTRA_CXX_FLAGS go to every compile and link (the sanitizer build passes
# its -fsanitize flags, which an instrumented library needs).
set -euo pipefail
# shellcheck source=tests/package/pkg_config_program.sh
source "$(dirname "$0")/pkg_config_program.sh"
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
flags="${3:-}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/strellix-package.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/include/strellix/strellix.hpp"
# The shared library resolves every symbol through its own dependencies, so
# that a program or an interpreter can load it alone.
unresolved="$(ldd -r "$(find "$prefix" -name libstrellix.so | head -n 1)" 2>&1 | grep 'undefined symbol' || true)"
if [ -n "$unresolved" ]; then
  echo "libstrellix.so leaves symbols undefined: $unresolved" >&2
  exit 1
fi

cmake -S "$source/examples/cpp" -B "$scratch/example" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$scratch/example" >/dev/null

"$build/make_sample_scene" "$scratch/scene" --frames 30 --width 48 --height 32 >/dev/null
mkdir -p "$scratch/masks" "$scratch/program"
"$scratch/example/segment_frames" "$scratch/scene/frame%d.png" "$scratch/masks" 12
(cd "$scratch/program" && "$prefix/bin/Strellixplus" "$scratch/scene/frame" -end 30 -F 12 </dev/null >/dev/null)
for k in $(seq 1 30); do
  name="$(printf 'mask%06d.png' "$k")"
  cmp -s "$scratch/masks/$name" "$scratch/program/$(printf 'bin%06d.png' "$k")" || {
    echo "the example's $name differs from the program's mask of frame $k" >&2
    exit 1
  }
done

pcdir="$(dirname "$(find "$prefix" -name strellix.pc | head -n 1)")"
# shellcheck disable=SC2086  # the extra flags are a list
PKG_CONFIG_PATH="$pcdir" check_pkg_config_program "$scratch" $flags -Wl,-rpath,"$pcdir/.."
echo "installed package: example built out of tree, masks equal the program's; pkg-config works"
