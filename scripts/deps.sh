#!/usr/bin/env bash
# Makes sure the Debian packages Tavrix builds with are present. Sourced by the
# other scripts; installs what is missing when run as root, otherwise prints the
# apt-get line to run and stops.
set -euo pipefail

TAVRIX_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins libqt5svg5-dev
  libqwt-qt5-dev libfftw3-dev libusb-1.0-0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev
  xvfb xauth imagemagick clang-format
  python3-numpy time
  clang libclang-rt-14-dev
)

tavrix_missing_packages() {
  local pkg missing=()
  for pkg in "${TAVRIX_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  echo "${missing[@]:-}"
}

tavrix_ensure_packages() {
  local missing
  missing=$(tavrix_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: $missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
  else
    echo "Tavrix needs these Debian packages, which are not installed:" >&2
    echo "  sudo apt-get install -y $missing" >&2
    exit 1
  fi
}

# Configures and builds into build/<name> with the given extra CMake arguments.
tavrix_build() {
  local name=$1
  shift
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  cmake -S "$root" -B "$root/build/$name" -G Ninja "$@" >/dev/null
  cmake --build "$root/build/$name" -j "$(nproc)"
}
