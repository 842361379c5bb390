#!/usr/bin/env bash
# Inspects the Debian package that scripts/package.sh built (or the .deb given): the files it
# must bring and their modes, the control fields, the maintainer scripts, the AppStream
# metadata, the manual pages and lintian's errors. Names everything that is wrong, then fails.
# Usage: scripts/check-package.sh [path/to/tavrix_VERSION_ARCH.deb]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ $# -gt 0 ]; then
  deb=$1
else
  debs=("$root"/build/package/tavrix_*.deb)
  if [ ! -e "${debs[0]}" ] || [ ${#debs[@]} -ne 1 ]; then
    echo "check-package: expected one build/package/tavrix_*.deb; run scripts/package.sh" >&2
    exit 1
  fi
  deb=${debs[0]}
fi

problems=0
problem() {
  echo "check-package: $(basename "$deb"): $*" >&2
  problems=$((problems + 1))
}

# --- control fields
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tavrix ] || problem "Package is '$(field Package)', not tavrix"
version=$(sed -n 's/^project(Tavrix VERSION \([^ )]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(field Version)" = "$version" ] ||
  problem "Version is '$(field Version)', not the project's $version"
case $(field Section) in science | electronics) ;; *) problem "Section is '$(field Section)'" ;; esac
[ -n "$(field Maintainer)" ] || problem "no Maintainer field"
depends=$(field Depends)
for lib in libqt5 libusb libfftw3; do
  grep -q "\b$lib" <<<"$depends" || problem "Depends names no $lib package: '$depends'"
done

# --- contents: "mode owner/group size date time ./path" per line
listing=$(dpkg-deb -c "$deb")
has() { grep -E -q " \./$1\$" <<<"$listing"; }
has usr/bin/tavrix || problem "missing the program usr/bin/tavrix"
has usr/bin/tavrix-cli || problem "missing the program usr/bin/tavrix-cli"
has usr/share/applications/tavrix.desktop || problem "missing the desktop entry"
has 'usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/tavrix\.png' || problem "missing the icon"
has 'usr/share/metainfo/[^/]+\.metainfo\.xml' || problem "missing the AppStream metainfo"
has usr/share/man/man1/tavrix.1.gz || problem "missing the manual page tavrix.1.gz"
has usr/share/man/man1/tavrix-cli.1.gz || problem "missing the manual page tavrix-cli.1.gz"
rules=$(grep -E -o '\./usr/lib/udev/rules\.d/[^/]+\.rules$' <<<"$listing" || true)
[ -n "$rules" ] || problem "missing the udev rule under usr/lib/udev/rules.d"
for rule in $rules; do
  # uaccess turns into the user's access in 73-seat-late.rules; a later rule is too late.
  number=$(basename "$rule" | grep -E -o '^[0-9]+' || true)
  if [ -z "$number" ] || [ "$((10#$number))" -ge 73 ]; then
    problem "udev rule $(basename "$rule") is not numbered below 73"
  fi
done
grep -q ' \./etc/' <<<"$listing" && problem "installs into /etc (udev rules go to /usr/lib)"
while read -r mode owner _ _ _ path; do
  [ "$owner" = root/root ] || problem "$path belongs to $owner, not root/root"
  case $mode in
  d*) want=drwxr-xr-x ;;
  -*) case $path in ./usr/bin/*) want=-rwxr-xr-x ;; *) want=-rw-r--r-- ;; esac ;;
  *) continue ;;
  esac
  [ "$mode" = "$want" ] || problem "$path has mode $mode, not $want"
done <<<"$listing"

# --- the files themselves
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || problem "no executable $script to reload the udev rules"
done
for metainfo in "$work"/root/usr/share/metainfo/*.metainfo.xml; do
  [ -e "$metainfo" ] || continue
  appstreamcli validate --no-net --no-color "$metainfo" >"$work/validate" 2>&1 ||
    problem "$(basename "$metainfo") does not validate: $(cat "$work/validate")"
  desktop=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ -n "$desktop" ] && [ -e "$work/root/usr/share/applications/$desktop" ] ||
    problem "$(basename "$metainfo") launches desktop id '$desktop', which the package lacks"
done
for program in "$work"/root/usr/bin/*; do
  page=$work/root/usr/share/man/man1/$(basename "$program").1.gz
  if [ ! -e "$page" ]; then
    problem "usr/bin/$(basename "$program") has no manual page"
    continue
  fi
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || problem "$(basename "$page") has roff warnings: $warnings"
done

# --- lintian: errors fail, warnings are shown
if ! lintian --allow-root --fail-on error "$deb" >"$work/lintian" 2>&1; then
  problem "lintian reports errors:"$'\n'"$(cat "$work/lintian")"
elif [ -s "$work/lintian" ]; then
  cat "$work/lintian"
fi

if [ "$problems" -gt 0 ]; then
  echo "check-package: $problems problem(s) in $deb" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") is complete (Depends: $depends)"
