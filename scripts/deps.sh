#!/usr/bin/env bash
# Makes sure the Debian packages Tavrix builds with are present. Sourced by the
# other scripts; installs what is missing when run as root, otherwise prints the
# apt-get line to run and stops. Afterwards every pkg-config module the build asks
# for (and what those modules require) must resolve, or the missing package is named.
set -euo pipefail

TAVRIX_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins libqt5svg5-dev
  libqwt-qt5-dev libqt5opengl5-dev libfftw3-dev libusb-1.0-0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev
  xvfb xauth imagemagick clang-format
  python3-numpy time
  clang libclang-rt-14-dev
  dpkg-dev file appstream lintian
)

# pkg-config modules of the build, and the package that ships each module a
# --no-install-recommends install could leave out.
TAVRIX_MODULES=(Qt5Qwt6 fftw3 libusb-1.0 umockdev-1.0)
declare -A TAVRIX_MODULE_PACKAGE=(
  [Qt5Qwt6]=libqwt-qt5-dev [fftw3]=libfftw3-dev [libusb-1.0]=libusb-1.0-0-dev
  [umockdev-1.0]=libumockdev-dev [Qt5OpenGL]=libqt5opengl5-dev [Qt5Core]=qtbase5-dev
  [Qt5Gui]=qtbase5-dev [Qt5Widgets]=qtbase5-dev [Qt5Concurrent]=qtbase5-dev
  [Qt5PrintSupport]=qtbase5-dev [Qt5Svg]=libqt5svg5-dev [glib-2.0]=libglib2.0-dev
  [gobject-2.0]=libglib2.0-dev [gio-2.0]=libglib2.0-dev
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

# Fails, naming module and package, when a module of the build does not resolve
# with everything it requires.
tavrix_check_modules() {
  local module lost package failed=0
  for module in "${TAVRIX_MODULES[@]}"; do
    pkg-config --exists "$module" 2>/dev/null && continue
    # pkg-config names the first module of the chain it could not find.
    lost=$(pkg-config --print-errors --exists "$module" 2>&1 |
      sed -n "s/.*Package '\{0,1\}\([^' ]*\)'\{0,1\},\{0,1\} .*not found.*/\1/p" | head -n1) || true
    lost=${lost:-$module}
    package=${TAVRIX_MODULE_PACKAGE[$lost]:-}
    echo "The build needs the pkg-config module $lost (for $module), which is not installed." >&2
    if [ -n "$package" ]; then
      echo "  It comes with the Debian package $package: apt-get install -y $package" >&2
    fi
    failed=1
  done
  return "$failed"
}

tavrix_ensure_packages() {
  local missing
  missing=$(tavrix_missing_packages)
  if [ -n "$missing" ]; then
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
  fi
  tavrix_check_modules || exit 1
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
