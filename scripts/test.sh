#!/usr/bin/env bash
# Builds Tavrix with its tests and runs the whole suite through CTest.
# Pass --sanitize to build and run under AddressSanitizer and UBSan.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deps.sh"
tavrix_ensure_packages

name=tests
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  name=sanitize
  args=(-DCMAKE_BUILD_TYPE=Debug -DTAVRIX_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:strict_init_order=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$here/../tests/sanitizer/lsan.supp:print_suppressions=0"
fi
tavrix_build "$name" "${args[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$here/../build/$name" --no-tests=error --output-on-failure -j "$(nproc)"
