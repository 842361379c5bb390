#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for a bounded time
# (TAVRIX_FUZZ_SECONDS, 30 by default) from its seed corpus. A finding fails the run; the
# input that caused it is left in build/fuzz/tests/fuzz.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deps.sh"
tavrix_ensure_packages

root=$(cd "$here/.." && pwd)
seconds=${TAVRIX_FUZZ_SECONDS:-30}
cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTAVRIX_BUILD_FUZZ=ON -DTAVRIX_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$root/build/fuzz" --target tavrix_fuzzers -j "$(nproc)"
# One at a time: each fuzzer keeps a core busy for its whole run.
ctest --test-dir "$root/build/fuzz" -L fuzz --no-tests=error --output-on-failure
