#!/usr/bin/env bash
# Makes the Debian packages from the shared build tree (build/, or
# BUILD_DIR; only what is missing is built) and prints their paths:
#
#   strellix          strellix, Strellixplus, man pages, bash completion
#   libstrellix1      the shared library
#   libstrellix-dev   header, static library, CMake package, strellix.pc
#   python3-strellix  the Python module, for Debian's python3
#
# Install them with `apt-get install ./build/packages/*.deb` (it fetches
# what they depend on); `apt-get purge strellix libstrellix1
# libstrellix-dev python3-strellix` removes them again.
set -euo pipefail
# shellcheck source=tools/build_tree.sh
source "$(dirname "$0")/build_tree.sh"
cd "$strellix_root"
# dpkg-shlibdeps (dpkg-dev) and file work out the packages' dependencies.
tools/install_deps.sh dpkg-dev file
configure_build_tree
build="$(strellix_build_dir)"
cmake --build "$build" -j"$(nproc)"
# Packages of an earlier version would be installed beside these by a glob.
rm -f "$build"/packages/*.deb
if ! (cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1; then
  cat "$build/cpack.log" >&2
  exit 1
fi
ls "$build"/packages/*.deb
