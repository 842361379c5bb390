#!/usr/bin/env bash
# Redraws the README's screenshots in docs/screenshots from the emulated board, on a
# virtual display.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deps.sh"
tavrix_ensure_packages
tavrix_build release -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BUILD_TESTS=OFF
mkdir -p "$here/../docs/screenshots"
xvfb-run -a -s '-screen 0 1600x1100x24' \
  "$here/../build/release/tools/tavrix_screenshots" "$here/../docs/screenshots"
