#!/usr/bin/env bash
# The package's maintainer scripts with and without a running udev, and
# scripts/check-package.sh against broken copies of the built package (each must be refused,
# naming the fault). Needs the .deb of scripts/package.sh, or one given as argument.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
deb=${1:-$(ls "$root"/build/package/tavrix_*.deb)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- maintainer scripts
mkdir -p "$work/bin"
fake_udevadm() { # the subcommand that fails, or none; calls are logged in $work/calls
  # shellcheck disable=SC2016 # the fake's own $*
  printf '#!/bin/sh\necho "$*" >>%s/calls\n[ "$1" != %s ]\n' "$work" "$1" >"$work/bin/udevadm"
  chmod 755 "$work/bin/udevadm"
  rm -f "$work/calls"
}
# Runs a maintainer script with the fake udevadm first on PATH; with "running", inside a
# private /run where udev's control socket exists.
run_script() { # script action running|stopped
  # shellcheck disable=SC2016 # expanded by the inner shell
  unshare -m sh -c 'mount -t tmpfs none /run &&
    if [ "$3" = running ]; then mkdir /run/udev && : >/run/udev/control; fi &&
    PATH="$0:$PATH" exec sh "$1" "$2"' "$work/bin" "$root/resources/deb/$1" "$2" "$3"
}

for script in postinst:configure postrm:remove postrm:purge; do
  name=${script%%:*} action=${script#*:}
  env PATH=/nonexistent /bin/sh "$root/resources/deb/$name" "$action" ||
    fail "$name $action fails without udevadm"
done
if unshare -m true 2>/dev/null; then
  for script in postinst:configure postrm:remove; do
    name=${script%%:*} action=${script#*:}
    fake_udevadm none
    run_script "$name" "$action" stopped || fail "$name $action fails when udev is not running"
    [ ! -e "$work/calls" ] || fail "$name $action calls udevadm while udev is not running"
    run_script "$name" "$action" running || fail "$name $action fails with udev running"
    [ "$(cut -d' ' -f1 "$work/calls" 2>/dev/null | tr '\n' ' ')" = "control trigger " ] ||
      fail "$name $action does not reload then trigger: $(cat "$work/calls" 2>/dev/null)"
    for failing in control trigger; do
      fake_udevadm $failing
      run_script "$name" "$action" running || fail "$name $action fails when udevadm $failing fails"
    done
  done
  fake_udevadm none
  run_script postrm upgrade running && [ ! -e "$work/calls" ] ||
    fail "postrm upgrade reloads udev although the rule stays"
else
  echo "SKIP: no mount namespace here; the udev-running cases were not run" >&2
fi

# --- check-package.sh refuses broken packages
"$root/scripts/check-package.sh" "$deb" >/dev/null 2>&1 ||
  fail "check-package.sh refuses the package as built"
dpkg-deb -R "$deb" "$work/good"
refuses() { # message, then the commands that break a copy of the package in $tree
  local message=$1 tree=$work/broken
  shift
  rm -rf "$tree" && cp -a "$work/good" "$tree"
  (cd "$tree" && eval "$*" && find usr -type f -exec md5sum {} + >DEBIAN/md5sums)
  dpkg-deb --root-owner-group -b "$tree" "$work/broken.deb" >/dev/null
  if "$root/scripts/check-package.sh" "$work/broken.deb" >"$work/out" 2>&1; then
    fail "check-package.sh accepts a package where: $*"
  elif ! grep -q -- "$message" "$work/out"; then
    fail "check-package.sh does not say '$message' for: $*; it says: $(cat "$work/out")"
  fi
}
refuses "not numbered below 73" mv usr/lib/udev/rules.d/60-tavrix.rules \
  usr/lib/udev/rules.d/80-tavrix.rules
refuses "missing the udev rule" rm usr/lib/udev/rules.d/60-tavrix.rules
refuses "usr/bin/tavrix has mode -rw-r--r--" chmod 644 usr/bin/tavrix
refuses "missing the AppStream metainfo" rm usr/share/metainfo/*.xml
refuses "does not validate" "sed -i 's:</name>:</nam>:' usr/share/metainfo/*.xml"
refuses "missing the manual page" rm usr/share/man/man1/tavrix.1.gz
refuses "Depends names no libusb" "sed -i 's/libusb-1.0-0[^,]*, *//; s/, *libusb-1.0-0.*//' DEBIAN/control"
refuses "no executable postinst" rm DEBIAN/postinst

[ "$failures" -eq 0 ] || exit 1
echo "package tests passed"
