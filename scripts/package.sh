#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests in build/package, then CPack.
# The .deb is left in build/package. TAVRIX_JOBS sets the build's parallel jobs.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deps.sh"
tavrix_ensure_packages

root=$(cd "$here/.." && pwd)
build=$root/build/package
# Dates inside the package (changelog, metadata) are the commit's, so a rebuild of the same
# commit gives the same files.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi
# Debian's hardening flags (fortified libc calls, stack protector, read-only relocations
# bound at start); the optimisation stays Release's and the binary is stripped anyway.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags=$(cd "$root" && dpkg-buildflags --get CPPFLAGS)
for flag in $(cd "$root" && dpkg-buildflags --get CXXFLAGS); do
  case $flag in -g | -O?) ;; *) cxxflags+=" $flag" ;; esac
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTAVRIX_BUILD_TESTS=OFF -DTAVRIX_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "${TAVRIX_JOBS:-$(nproc)}"
# A package of another version left from earlier would make tavrix_*.deb ambiguous.
rm -f "$build"/tavrix_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/tavrix_*.deb
