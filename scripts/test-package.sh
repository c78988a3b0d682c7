#!/usr/bin/env bash
# Builds the Debian package (cpack in the release build) and checks it with
# Debian's own tools: its control data and files, lintian, the desktop
# entry, the manual page, and the packaged program converting the sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package
bash scripts/build.sh release
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
deb="build/release/tlqconverter_${version}_amd64.deb"
rm -f "$deb"
(cd build/release && cpack >/dev/null)

fail() { echo "package test failed: $*" >&2; exit 1; }
info=$(dpkg-deb --info "$deb")
grep -q "^ Package: tlqconverter$" <<<"$info" || fail "package name"
grep -q "^ Version: ${version}$" <<<"$info" || fail "version"
grep -q "^ Depends: .*libpcre2-8-0" <<<"$info" || fail "dependencies from the binary"
grep -q "^ Depends: .*libxlsxwriter4" <<<"$info" || fail "the workbook library among the dependencies"
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for f in usr/bin/tlqconverter usr/share/applications/tlqconverter.desktop usr/share/applications/tlqconverter-workbook.desktop usr/share/applications/tlqconverter-batch.desktop \
         usr/share/mime/packages/tlqconverter.xml usr/share/man/man1/tlqconverter.1.gz \
         usr/share/doc/tlqconverter/copyright usr/share/doc/tlqconverter/changelog.gz; do
  grep -qx "./$f" <<<"$contents" || fail "missing $f"
done

lint=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[ -n "$lint" ] && echo "lintian: $lint"
grep -q '^E: ' <<<"$lint" && fail "lintian reports errors"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/tlqconverter.desktop" || fail "desktop entry"
desktop-file-validate "$work/root/usr/share/applications/tlqconverter-batch.desktop" || fail "the folders' desktop entry"
desktop-file-validate "$work/root/usr/share/applications/tlqconverter-workbook.desktop" || fail "the workbook's desktop entry"
page=$(MANWIDTH=80 man -l "$work/root/usr/share/man/man1/tlqconverter.1.gz" 2>&1)
for section in NAME SYNOPSIS OPTIONS "THE TABLE" "THE WORKBOOK" SEPARATORS FILES "ERROR REPORT" "EXIT STATUS"; do
  grep -q "^${section}$" <<<"$page" || fail "manual page lacks $section"
done
grep -q "tlqconverter ${version}" <<<"$page" || fail "manual page version"

# The packaged program converts the sample (separators from a store of our
# own, the opener stubbed out).
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
printf '[HKEY_CURRENT_USER\\Control Panel\\International]\n"sList"=","\n"sDecimal"="."\n' >"$work/store.reg"
cp examples/sample.tlq "$work/sample.tlq"
env -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:/usr/bin:/bin" TLQCONVERTER_REGISTRY="$work/store.reg" TMPDIR="$work" \
  "$work/root/usr/bin/tlqconverter" "$work/sample.tlq"
cmp "$work/sample.csv" examples/sample.expected-comma-point.csv || fail "the packaged program's table"
env -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:/usr/bin:/bin" TMPDIR="$work" \
  "$work/root/usr/bin/tlqconverter" --xlsx "$work/sample.tlq"
/usr/bin/python3 -c 'import sys, zipfile; names = zipfile.ZipFile(sys.argv[1]).namelist(); sys.exit(not {"xl/worksheets/sheet1.xml", "xl/charts/chart1.xml"} <= set(names))' \
  "$work/sample.xlsx" || fail "the packaged program's workbook"
echo "Debian package: $deb ($(stat -c %s "$deb") bytes) passed"
