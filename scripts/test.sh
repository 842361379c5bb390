#!/usr/bin/env bash
# Builds Tavrix with its tests and runs the whole suite through CTest.
# Pass --sanitize to build and run under AddressSanitizer and UBSan, or --thread to run
# only the tests labelled "threaded" under ThreadSanitizer.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deps.sh"
tavrix_ensure_packages

if [ "${1:-}" = "--thread" ]; then
  # clang like the fuzzers; the target tavrix_threaded_tests holds just the labelled
  # binaries and what they link. A report ends the test at once with a failing status.
  build=$(cd "$here/.." && pwd)/build/thread
  cmake -S "$here/.." -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVRIX_SANITIZE_THREAD=ON >/dev/null
  cmake --build "$build" --target tavrix_threaded_tests -j "$(nproc)"
  export QT_QPA_PLATFORM=offscreen
  export TSAN_OPTIONS="suppressions=$here/../tests/sanitizer/tsan.supp:halt_on_error=1:exitcode=66:second_deadlock_stack=1"
  exec ctest --test-dir "$build" -L threaded --no-tests=error --output-on-failure -j "$(nproc)"
fi

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
