#!/usr/bin/env bash
# Cross-builds tlqconverter.exe and its tests for 64-bit Windows and runs the
# whole suite under wine, in a fresh wine prefix that is removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q 'install ok installed'; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends wine64 >/dev/null
fi
bash scripts/build-windows-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX
WINEPREFIX="$(mktemp -d)/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine rewrites the regional settings whenever the locale differs from the
# one the prefix was made with: keep it fixed for the whole run.
export LC_ALL=C.UTF-8
cleanup() {
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$(dirname "$WINEPREFIX")"
}
trap cleanup EXIT

# Start the prefix outside ctest: wine's background processes inherit the
# output of whatever started them, and would hold ctest's pipes open.
"$wine" wineboot -i </dev/null >/dev/null 2>&1
"$wineserver" -w </dev/null >/dev/null 2>&1
"$wineserver" -p </dev/null >/dev/null 2>&1
"$wine" wineboot </dev/null >/dev/null 2>&1

# One test at a time: the tests share the user's registry.
ctest --preset windows

# The same sample through both builds, separators set the way a user's
# system holds them: byte for byte the same CSV.
linux=build/release/src/tlqconverter
[ -x "$linux" ] || { cmake --preset release >/dev/null && cmake --build --preset release >/dev/null; }
work="$(dirname "$WINEPREFIX")/compare"
mkdir -p "$work/Mess daten"
passed=0 failed=0
for pair in ";|," ",|." "	|,"; do
  list="$(printf "${pair%%|*}")" decimal="${pair##*|}"
  "$wine" reg add 'HKCU\Control Panel\International' /v sList /t REG_SZ /d "$list" /f </dev/null >/dev/null 2>&1
  "$wine" reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d "$decimal" /f </dev/null >/dev/null 2>&1
  cp examples/sample.tlq "$work/Mess daten/Messung Höhe 1.tlq"
  "$wine" build/windows/src/tlqconverter.exe "$work/Mess daten/Messung Höhe 1.tlq" </dev/null
  mv "$work/Mess daten/Messung Höhe 1.csv" "$work/windows.csv"
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Control Panel\\International]\n"sList"="%s"\n"sDecimal"="%s"\n' \
    "$list" "$decimal" >"$work/store.reg"
  TLQCONVERTER_REGISTRY="$work/store.reg" "$linux" "$work/Mess daten/Messung Höhe 1.tlq"
  if cmp -s "$work/windows.csv" "$work/Mess daten/Messung Höhe 1.csv"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "separators '$list' '$decimal': the Windows and Linux builds differ"
  fi
done
echo "Windows against Linux on the sample: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
