#!/usr/bin/env bash
# Cross-builds tlqconverter.exe (and its console twin tlqconverter.com) and
# their tests for 64-bit Windows and runs the whole suite under wine, in a
# fresh wine prefix that is removed afterwards: the unit and process tests,
# the comparison with the Linux program, the setup program end to end, and
# the batch (against Linux, Ctrl-C, the progress dialog in a virtual display).
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# wine, and a virtual display with a hand and an eye for the progress dialog;
# strace to see the program's files reach the disk.
missing=()
for p in wine64 xvfb xdotool imagemagick strace; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
bash scripts/install-deps.sh setup  # makensis, for the setup program
bash scripts/build-windows-deps.sh
bash scripts/build.sh windows

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

# One test at a time: the tests share the user's registry. Now and then wine
# fails to start a test's process at all (no output, in a hundredth of a
# second); such a test gets one more try.
ctest --preset windows --repeat until-pass:2

# The Windows program against the Linux one and the reference model, with
# the separators set the way a user's system holds them: the sample, a
# recording of some megabytes whose rk frames meet every acceleration, and one
# that fails deep inside. The CSV (partial or whole), the exit code, the
# failure and the report's trace must all be the same.
release=build/release
if [ ! -x "$release/src/tlqconverter" ] || [ ! -x "$release/tools/gen_recording" ]; then
  bash scripts/build.sh release
fi
work="$(dirname "$WINEPREFIX")/compare"
mkdir -p "$work/Mess daten" "$work/tmp"
cp examples/sample.tlq "$work/sample.tlq"
"$release/tools/gen_recording" --entries 32000 --all-tilts --seed 7 "$work/tilts.tlq"
"$release/tools/gen_recording" --entries 24000 --all-tilts --seed 8 --fail-at 23000 "$work/failing.tlq"

pairs=(";|," ",|." "	|,")
for p in 0 1 2; do
  pair="${pairs[$p]}"
  recordings=("$work/sample.tlq" "$work/tilts.tlq" "$work/failing.tlq")
  [ "$p" -lt 2 ] || recordings=("$work/sample.tlq")
  jobs=()
  for rec in "${recordings[@]}"; do jobs+=("$rec" "$work/$(basename "$rec" .tlq).$p.model.csv"); done
  python3 tools/reference/reference.py "${pair%%|*}" "${pair##*|}" "${jobs[@]}" &
done
wait

trace() { tail -n +7 "$1"; }  # the report from its trace on (the lines above name paths)
same() { if [ -e "$1" ] || [ -e "$2" ]; then cmp -s "$1" "$2"; fi; }  # also when neither exists
reports() { find "$WINEPREFIX/drive_c/users" -name 'tlqconverter_error_*.txt'; }
passed=0 failed=0
for p in 0 1 2; do
  pair="${pairs[$p]}"
  list="${pair%%|*}" decimal="${pair##*|}"
  "$wine" reg add 'HKCU\Control Panel\International' /v sList /t REG_SZ /d "$list" /f </dev/null >/dev/null 2>&1
  "$wine" reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d "$decimal" /f </dev/null >/dev/null 2>&1
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Control Panel\\International]\n"sList"="%s"\n"sDecimal"="%s"\n' \
    "$list" "$decimal" >"$work/store.reg"
  for name in sample tilts failing; do
    model="$work/$name.$p.model.csv"
    [ -e "$model" ] || [ -e "$model.error" ] || continue
    rec="$work/Mess daten/Messung Höhe 1.tlq" csv="$work/Mess daten/Messung Höhe 1.csv"
    cp "$work/$name.tlq" "$rec"
    rm -f "$csv" "$work"/*.out.csv "$work"/tmp/* $(reports)
    wrc=0 lrc=0
    "$wine" build/windows/src/tlqconverter.exe "$rec" </dev/null >/dev/null 2>&1 || wrc=$?
    [ ! -e "$csv" ] || mv "$csv" "$work/windows.out.csv"
    TLQCONVERTER_REGISTRY="$work/store.reg" TMPDIR="$work/tmp" TMP= TEMP= \
      "$release/src/tlqconverter" "$rec" >/dev/null 2>"$work/linux.err" || lrc=$?
    [ ! -e "$csv" ] || mv "$csv" "$work/linux.out.csv"
    problems=()
    [ "$wrc" = "$lrc" ] || problems+=("exit codes $wrc (Windows) and $lrc (Linux)")
    same "$work/windows.out.csv" "$work/linux.out.csv" || problems+=("the Windows and Linux CSV differ")
    same "$model" "$work/linux.out.csv" || problems+=("the Linux CSV differs from the model's")
    if [ -e "$model.error" ]; then
      message="$(cut -d' ' -f2- "$model.error")"
      grep -qF "tlqconverter: $message (report: " "$work/linux.err" || problems+=("not the model's failure: $(cat "$work/linux.err")")
      wreport="$(reports)" lreport="$(ls "$work"/tmp/tlqconverter_error_*.txt 2>/dev/null)"
      if [ -z "$wreport" ] || [ -z "$lreport" ]; then
        problems+=("a report is missing")
      elif ! cmp -s <(trace "$wreport") <(trace "$lreport"); then
        problems+=("the reports' traces differ")
      fi
    elif [ "$lrc" != 0 ]; then
      problems+=("the conversion failed: $(cat "$work/linux.err")")
    fi
    if ((${#problems[@]})); then
      failed=$((failed + 1))
      printf '%s, separators %q %q: %s\n' "$name" "$list" "$decimal" "${problems[*]}"
    else
      passed=$((passed + 1))
    fi
  done
done
echo "Windows against Linux and the model: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

# Workbooks: the Windows program's sheets against the Linux program's, cell
# for cell (unzipped), on the sample and on large generated recordings, one
# of them over several sheets; a failing recording leaves no workbook on
# either. Each in a folder whose name is not ASCII (German, Greek, Japanese),
# or deeper than 260 characters, with the user's temporary folder (TMP) in a
# profile whose name is not ASCII either. Then every kind of cell through
# the Windows program, read back against the model.
"$release/tools/gen_recording" --entries 150000 --seed 9 "$work/large.tlq"
# Texts longer than a kilobyte, beyond ASCII: cells that the Windows
# library's fprintf formats on the stream itself (xlsxwriter_calls_win32.h).
python3 - "$work/long.tlq" <<'PY'
import json, sys
entries = [{"inclino": {"raw": "X=+01.2%02d\r\nY=-12.346%s" % (i % 100, "ü" * (i % 3) * (300 + 37 * i)),
                        "timestamp": "2026-11-17T09:%02d:%02d.%03dZ" % (i // 60, i % 60, i)},
            "force": {"raw": "\u0002- 1%02dN\u0003%s" % (i % 100, "Ω数" * (300 + 37 * i) * (i % 2))},
            "dlen": {"raw": "A=44476 33 B=55570" + "x" * 37 * i, "val1": 555.95 + i / 7, "val2": 694.625 * i / 3}}
           for i in range(200)]
json.dump({"format": 3, "site": "S\u00fcd " * 300, "data": entries}, open(sys.argv[1], "w"))
PY
deep="$work/tief"
while [ "${#deep}" -lt 300 ]; do deep="$deep/Messreihe März 2026"; done
declare -A folders=([sample]="$work/Messungen März" [tilts]="$deep" [large]="$work/測定データ"
                    [long]="$work/Messungen März" [failing]="$work/Μετρήσεις ω")
profile_tmp='C:\users\Jürgen 数据\AppData\Local\Temp'
reports="$WINEPREFIX/drive_c/users/Jürgen 数据/AppData/Local/Temp"
mkdir -p "$reports"
user_tmp="$("$wine" reg query 'HKCU\Environment' /v TMP </dev/null 2>/dev/null | sed -n 's/^ *TMP *REG_SZ *//p' | tr -d '\r')"
"$wine" reg add 'HKCU\Environment' /v TMP /t REG_SZ /d "$profile_tmp" /f </dev/null >/dev/null 2>&1
passed=0 failed=0
for name in sample tilts large long failing; do
  for rows in 1048575 40000; do
    [ "$name" = large ] || [ "$rows" = 1048575 ] || continue
    mkdir -p "${folders[$name]}"
    rec="${folders[$name]}/Messung Höhe 1.tlq" xlsx="${folders[$name]}/Messung Höhe 1.xlsx"
    cp "$work/$name.tlq" "$rec"
    # A time of the last change to the nanosecond, which Windows (wine) keeps
    # to 100 ns: the "recording" sheet shows it to the millisecond on both.
    touch -d "@$(date +%s).123456789" "$rec"
    rm -f "$xlsx" "$work"/*.out.xlsx
    wrc=0 lrc=0
    TLQCONVERTER_SHEET_ROWS=$rows "$wine" build/windows/src/tlqconverter.exe --xlsx "$rec" </dev/null >/dev/null 2>&1 || wrc=$?
    [ ! -e "$xlsx" ] || mv "$xlsx" "$work/windows.out.xlsx"
    TLQCONVERTER_SHEET_ROWS=$rows TMPDIR="$work/tmp" "$release/src/tlqconverter" --xlsx "$rec" >/dev/null 2>&1 || lrc=$?
    [ ! -e "$xlsx" ] || mv "$xlsx" "$work/linux.out.xlsx"
    problems=()
    [ "$wrc" = "$lrc" ] || problems+=("exit codes $wrc (Windows) and $lrc (Linux)")
    if [ "$name" = failing ]; then
      [ ! -e "$work/windows.out.xlsx" ] && [ ! -e "$work/linux.out.xlsx" ] || problems+=("a workbook for a failure")
      compgen -G "$reports/tlqconverter_error_*.txt" >/dev/null || problems+=("no report in the profile's TMP")
    elif ! /usr/bin/python3 tools/reference/same_workbooks.py "$work/windows.out.xlsx" "$work/linux.out.xlsx"; then
      problems+=("the Windows and Linux workbooks differ")
    fi
    if ((${#problems[@]})); then
      failed=$((failed + 1))
      printf '%s.tlq (%s rows per sheet): %s\n' "$name" "$rows" "${problems[*]}"
    else
      passed=$((passed + 1))
    fi
  done
done
if [ -n "$user_tmp" ]; then
  "$wine" reg add 'HKCU\Environment' /v TMP /t REG_SZ /d "$user_tmp" /f </dev/null >/dev/null 2>&1
else
  "$wine" reg delete 'HKCU\Environment' /v TMP /f </dev/null >/dev/null 2>&1
fi
echo "Windows workbooks against Linux ones: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
/usr/bin/python3 tools/reference/workbook_check.py build/windows/src/tlqconverter.exe --runner "$wine" --count 60 \
  --seed 20261209

# The setup program, in this same prefix; then the batch as a user meets it.
bash scripts/test-setup-windows.sh
bash scripts/test-batch-windows.sh
