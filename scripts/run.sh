#!/usr/bin/env bash
# Builds Tavrix and starts it. Arguments are passed on to the program.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deps.sh"
tavrix_ensure_packages
tavrix_build release -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BUILD_TESTS=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found (DISPLAY is not set). To run Tavrix on a virtual display:" >&2
  echo "  xvfb-run -a -s '-screen 0 1600x1100x24' $0 $*" >&2
  exit 2
fi
exec "$here/../build/release/app/tavrix" "$@"
