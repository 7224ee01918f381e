# shellcheck shell=bash
# Sourced by the scripts that build (run_sample.sh, run_tests.sh,
# install_python.sh, make_package.sh): the one Release tree they share,
# build/ (or BUILD_DIR), configured by each with the same options and with
# everything a user may want in it (programs, library, Python module for
# Debian's python3, man pages, tests), so that whichever runs next builds
# only what is still missing.

# The repository root, whichever directory the script was started from.
strellix_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"

# The build tree's path: BUILD_DIR (relative to the root) or build/.
strellix_build_dir() {
  local dir="${BUILD_DIR:-build}"
  case "$dir" in /*) ;; *) dir="$strellix_root/$dir" ;; esac
  printf '%s\n' "$dir"
}

# Configures the shared tree; CMAKE_EXTRA_ARGS adds configure arguments.
# Quiet unless it fails.
configure_build_tree() {
  local dir log
  dir="$(strellix_build_dir)"
  mkdir -p "$dir"
  log="$dir/configure.log"
  # shellcheck disable=SC2086  # CMAKE_EXTRA_ARGS is a list of arguments
  if ! cmake -S "$strellix_root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DSTRELLIX_TESTS=ON \
    -DSTRELLIX_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3 ${CMAKE_EXTRA_ARGS:-} >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
}

# Tells where the command line is after a build that did not install it.
say_where_strellix_is() {
  local dir built
  dir="$(strellix_build_dir)"
  built="${dir#"$PWD"/}"
  echo "strellix is $built/strellix (and Strellixplus beside it); to have them on PATH, install:"
  echo "  tools/install_python.sh (into /usr/local), or the Debian packages of tools/make_package.sh"
  if command -v strellix >/dev/null; then
    echo "(the strellix on PATH now is $(command -v strellix))"
  fi
}
