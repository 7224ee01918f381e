#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is
# missing, and the packages named as arguments (what one script alone needs).
#
#   tools/install_deps.sh [PACKAGE...]
set -euo pipefail
packages=(cmake make g++ pkg-config libopencv-dev libgtest-dev libcli11-dev xvfb xauth x11-utils xdotool
  python3-dev python3-numpy pybind11-dev python3-pybind11 python3-pytest python3-opencv
  snakemake python3-matplotlib python3-pygments slurm-wlm munge chromium help2man clang-format black "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
