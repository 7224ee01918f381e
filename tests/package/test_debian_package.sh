#!/usr/bin/env bash
# Makes the Debian packages (tools/make_package.sh), installs them as a user
# would (`apt-get install ./….deb`) and uses them with nothing from the
# build tree: a program built with `pkg-config --cflags --libs strellix`
# starts without LD_LIBRARY_PATH, Debian's python3 imports strellix from /,
# strellix runs from PATH, the man pages are found and the completion works.
# Then it purges them and checks that nothing is left behind.
#
# It changes the system (root, apt-get), so it is a step of .ci/run and not
# a ctest test. It refuses to start when the packages are installed already.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd -P)"
# shellcheck source=tests/package/pkg_config_program.sh
source "$root/tests/package/pkg_config_program.sh"
packages=(strellix libstrellix1 libstrellix-dev python3-strellix)
if [ "$(id -u)" -ne 0 ]; then
  echo "test_debian_package.sh installs packages: run it as root" >&2
  exit 1
fi
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "$p is installed already; this test would remove it" >&2
    exit 1
  fi
done

"$root/tools/install_deps.sh" man-db
mapfile -t debs < <("$root/tools/make_package.sh" | grep '\.deb$')
scratch="$(mktemp -d "${TMPDIR:-/tmp}/strellix-deb.XXXXXX")"
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=600)
# Whatever happens, the system is left as it was found.
cleanup() {
  local installed=()
  for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then installed+=("$p"); fi
  done
  if [ ${#installed[@]} -gt 0 ]; then DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge "${installed[@]}"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
# Slim container images tell dpkg to drop every man page; ours are what is
# tested, so they are let through there.
if grep -rqs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d; then
  echo "dpkg here leaves out man pages: installing this package's anyway"
  apt+=(-o 'DPkg::Options::=--path-include=/usr/share/man/man1/[Ss]trellix*')
fi
echo "installing ${debs[*]##*/}"
DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "${debs[@]}" >"$scratch/install.log" 2>&1 || {
  cat "$scratch/install.log" >&2
  exit 1
}
dpkg-query -L "${packages[@]}" | sort -u >"$scratch/files"

# Nothing from the build tree or the caller's environment helps below.
unset LD_LIBRARY_PATH PKG_CONFIG_PATH PYTHONPATH
PATH=/usr/local/bin:/usr/bin:/bin
check_pkg_config_program "$scratch"
(cd / && /usr/bin/python3 -c '
import strellix
assert strellix.__file__.startswith("/usr/lib/"), strellix.__file__
print("import strellix from /:", strellix.__file__, strellix.__version__)')
[ "$(command -v strellix)" = /usr/bin/strellix ] || {
  echo "strellix on PATH is $(command -v strellix), not the package's" >&2
  exit 1
}
strellix --version
Strellixplus --help >/dev/null </dev/null
for page in strellix strellix-segment strellix-evaluate strellix-probe Strellixplus; do
  man -w "$page"
done
man strellix-segment >"$scratch/page" 2>/dev/null
grep -q -- '--median-frames' "$scratch/page"
bash "$root/tests/package/test_completion.sh" /usr/share/bash-completion/completions/strellix strellix

DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge "${packages[@]}" >"$scratch/purge.log" 2>&1 || {
  cat "$scratch/purge.log" >&2
  exit 1
}
# Left behind: a file of the packages (the module among them), a directory
# only they used, the library in the loader's cache.
left=()
while read -r path; do
  if [ -L "$path" ] || [ -f "$path" ]; then
    left+=("$path")
  elif [ -d "$path" ] && ! dpkg-query -S "$path" >/dev/null 2>&1 && [ -z "$(ls -A "$path")" ]; then
    left+=("$path/")
  fi
done <"$scratch/files"
if /sbin/ldconfig -p | grep -q libstrellix; then left+=("libstrellix in the loader's cache"); fi
if [ ${#left[@]} -gt 0 ]; then
  printf 'left behind after the purge: %s\n' "${left[@]}" >&2
  exit 1
fi
echo "Debian packages: installed, used without the build tree, and purged leaving nothing"
