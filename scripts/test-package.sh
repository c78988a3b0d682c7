#!/usr/bin/env bash
# Builds the Debian package (cpack in the release build) and checks it with
# Debian's own tools: its control data and files, lintian, the desktop
# entries and the defaults they make, the manual page, and the packaged
# program converting the sample.
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
for f in usr/bin/tlqconverter usr/share/applications/tlqconverter.desktop usr/share/applications/tlqconverter.workbook.desktop \
         usr/share/applications/tlqconverter-menu.desktop usr/share/kio/servicemenus/tlqconverter-batch.desktop \
         usr/share/nemo/actions/tlqconverter-batch.nemo_action usr/share/nemo/actions/tlqconverter-check.nemo_action \
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
for entry in "$work"/root/usr/share/applications/*.desktop; do
  desktop-file-validate "$entry" || fail "desktop entry $(basename "$entry")"
done
grep -q '^NoDisplay=' "$work/root/usr/share/applications/tlqconverter-menu.desktop" && fail "the menu's entry is hidden"
grep -l 'inode/directory' "$work"/root/usr/share/applications/*.desktop && fail "an application entry declares folders"

# The defaults as the package leaves them, with a file manager's entry
# among the system's: Debian's trigger refreshes the desktop's cache, and
# xdg-mime (the generic desktop's rules) finds the table's entry for
# recordings and the file manager for folders.
mkdir -p "$work/system/applications" "$work/home"
printf '[Desktop Entry]\nType=Application\nName=Files\nExec=true %%U\nMimeType=inode/directory;\n' \
  >"$work/system/applications/org.gnome.Nautilus.desktop"
update-desktop-database "$work/system/applications"
update-desktop-database "$work/root/usr/share/applications"
query() {
  env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID -u DBUS_SESSION_BUS_ADDRESS \
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_DIRS="$work/etc" \
    XDG_DATA_DIRS="$work/root/usr/share:$work/system" xdg-mime query default "$1"
}
[ "$(query application/x-treloqa-recording)" = tlqconverter.desktop ] ||
  fail "the default for recordings is $(query application/x-treloqa-recording)"
[ "$(query inode/directory)" = org.gnome.Nautilus.desktop ] || fail "the default for folders is $(query inode/directory)"
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
