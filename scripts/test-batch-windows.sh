#!/usr/bin/env bash
# The batch of the Windows programs under wine, as a user meets it:
#   1. tlqconverter.com on a tree of generated recordings (nested folders,
#      names beyond ASCII, an upper-case extension, a recording that fails
#      half-way, one that is no JSON, many small ones), into an out folder,
#      split: the tables, the exit code and the summary are the Linux
#      program's; then beside the recordings: an older table of a failing
#      recording stays as it was, no temporary file is left;
#      two and three batches at once over one tree: every table whole (the
#      Linux program's), nothing of theirs left; one killed leaves no lock;
#      every file flushed to the disk before it is renamed into place (strace);
#   2. Ctrl-C (SIGINT, which wine turns into the console's Ctrl-C event) in the
#      middle of a large batch: exit 130, no temporary file, only whole tables;
#   3. tlqconverter.exe from the desktop in a virtual display (Xvfb): the
#      progress dialog appears, Cancel stops the batch, the message box
#      follows (screenshots land in build/windows/screens/); the dialog of
#      workbooks and that of --check say so in their titles; a folder
#      without recordings gives a message box, not a crash;
#      when a recording failed, the summary is opened in an editor once the
#      message box is dismissed, and reads right (a byte-order mark);
#   4. one recording from the desktop: its progress dialog, titled with its
#      name, while it converts and while the workbook is compressed; then,
#      with the workbook held open as a spreadsheet holds it, a message box at
#      once (before any work), the report after it, the workbook as it was;
#   5. a console window (wine's, in the virtual display) shows names beyond
#      ASCII as they are, and where a single conversion's table went: the
#      tests that read its screen back.
# Runs in $WINEPREFIX when the Windows suite has one, else in a fresh prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
release=build/release
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$work/wine"
  trap '"$wineserver" -k </dev/null >/dev/null 2>&1 || true; cleanup' EXIT
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  "$wineserver" -w </dev/null >/dev/null 2>&1
  "$wineserver" -p </dev/null >/dev/null 2>&1
else
  trap cleanup EXIT
fi

failures=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
}
equals() { [ "$1" = "$2" ] || { echo "    got [$1], expected [$2]"; return 1; }; }
windows_path() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
no_temporary_files() { [ -z "$(find "$1" -name '*.tmp')" ]; }
# What a summary says beyond the paths, the megabytes and the seconds: each
# failure's kind and message, and the counts.
gist() {
  tr -d '\r' | sed -E 's/^failed: .*\.(tlq|TLQ): (.*) \(report: .*\)$/failed: \2/; s/^(dropped|gaps|order|unreadable|salvaged): .*\.(tlq|TLQ): /\1: /
    s/, [0-9.]+ MB read in [0-9.]+ s$//'
}
gen() { "$release/tools/gen_recording" "$@" >/dev/null; }

"$wine" reg add 'HKCU\Control Panel\International' /v sList /t REG_SZ /d ';' /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d ',' /f </dev/null >/dev/null 2>&1
printf '[HKEY_CURRENT_USER\\Control Panel\\International]\n"sList"=";"\n"sDecimal"=","\n' >"$work/store.reg"
mkdir -p "$work/tmp"
linux() { TLQCONVERTER_REGISTRY="$work/store.reg" TMPDIR="$work/tmp" TMP= TEMP= "$release/src/tlqconverter" "$@"; }

echo "batch, Windows against Linux"
tree="$work/tree"
mkdir -p "$tree/Mess daten/2026" "$tree/Mess daten/alt" "$tree/klein"
gen --entries 32000 --all-tilts --seed 11 "$tree/Mess daten/2026/Höhe 1.tlq"
gen --entries 4000 --seed 12 "$tree/Mess daten/2026/Süd.TLQ"
gen --entries 24000 --all-tilts --seed 8 --fail-at 23000 "$tree/Mess daten/alt/run.tlq"
printf 'an older table\r\n' >"$tree/Mess daten/alt/run.csv"
printf '{"data":[' >"$tree/Mess daten/kaputt.tlq"
for i in $(seq 10 49); do gen --entries 300 --seed "$i" "$tree/klein/k$i.tlq"; done
lrc=0 wrc=0
linux --batch --out "$work/linux" --split-rows 10000 "$tree" >"$work/linux.out" || lrc=$?
"$wine" build/windows/src/tlqconverter.com --batch --out "$(windows_path "$work/windows")" --split-rows 10000 \
  "$(windows_path "$tree")" </dev/null >"$work/windows.out" 2>/dev/null || wrc=$?
check "exit codes (2: two failed)" equals "$wrc $lrc" "2 2"
check "the same tables, byte for byte" diff -r "$work/linux" "$work/windows"
check "split where asked" test -f "$work/windows/Mess daten/2026/Höhe 1_part4.csv"
check "the same summary" equals "$(gist <"$work/windows.out")" "$(gist <"$work/linux.out")"
check "its counts" grep -q '^42 recordings converted, 2 failed, ' "$work/windows.out"
wrc=0
"$wine" build/windows/src/tlqconverter.com --batch "$(windows_path "$tree")" </dev/null >/dev/null 2>&1 || wrc=$?
check "beside the recordings: exit code" equals "$wrc" 2
check "an older table of a failing recording stays" equals "$(cat "$tree/Mess daten/alt/run.csv")" $'an older table\r'
check "no table of a recording that is no JSON" test ! -e "$tree/Mess daten/kaputt.csv"
check "a table beside its recording" cmp -s "$tree/Mess daten/2026/Süd.csv" "$work/linux/Mess daten/2026/Süd.csv"
check "no temporary file left" no_temporary_files "$tree"

echo "batch, two and three at once over one tree"
many="$work/many"
mkdir -p "$many/a" "$many/b"
for i in $(seq 100 159); do gen --entries $((20 + i % 37)) --seed "$i" "$many/$([ $((i % 2)) -eq 0 ] && echo a || echo b)/r$i.tlq"; done
linux --batch --split-rows 5 --out "$work/many-linux" "$many" >/dev/null
"$wine" build/windows/src/tlqconverter.com --batch --split-rows 7 "$(windows_path "$many")" </dev/null >/dev/null 2>&1
at_once() {  # $1 batches at once over the tree: each must convert every recording
  local pids=() k rc=0
  for k in $(seq "$1"); do
    "$wine" build/windows/src/tlqconverter.com --batch --split-rows 5 "$(windows_path "$many")" </dev/null \
      >"$work/at-once-$k.out" 2>/dev/null &
    pids+=($!)
  done
  for k in "${pids[@]}"; do wait "$k" || rc=1; done
  for k in $(seq "$1"); do grep -q '^60 recordings converted, 0 failed, ' "$work/at-once-$k.out" || rc=1; done
  return $rc
}
whole_tables_as_linux() { diff -r -x '*.tlq' "$work/many-linux" "$many" >/dev/null; }
no_leftovers() { [ -z "$(find "$1" -name '*.tmp' -o -name '*.old' -o -name 'tlqconverter.lock')" ]; }
for n in 2 3; do
  check "$n at once: every batch converts every recording" at_once "$n"
  check "$n at once: every table whole, as the Linux program writes it" whole_tables_as_linux
  check "$n at once: no file of theirs left" no_leftovers "$many"
done
# Killed (a crash) while it puts tables in: its lock goes with it.
"$wine" build/windows/src/tlqconverter.com --batch --split-rows 5 "$(windows_path "$many")" </dev/null >/dev/null 2>&1 &
pid=$!
sleep 1
kill -KILL "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
check "killed: no lock file left" test -z "$(find "$many" -name tlqconverter.lock)"
wrc=0
TLQCONVERTER_LOCK_WAIT=1 "$wine" build/windows/src/tlqconverter.com --batch --split-rows 5 "$(windows_path "$many")" \
  </dev/null >"$work/after-kill.out" 2>/dev/null || wrc=$?
check "killed: the next batch goes on at once" equals "$wrc" 0

echo "batch, each file on the disk before it goes in"
mkdir -p "$work/durable"
gen --entries 300 --seed 3 "$work/durable/a.tlq"
gen --entries 20 --seed 4 "$work/durable/b.tlq"
durable_log=$(windows_path "$work/durable/log.csv") durable=$(windows_path "$work/durable")
# A server of its own, traced with the program: it does the renames.
"$wineserver" -k </dev/null >/dev/null 2>&1 || true
"$wineserver" -w </dev/null >/dev/null 2>&1 || true
strace -f -qq -y -e trace=fsync,fdatasync,rename,renameat,renameat2 -o "$work/strace.txt" \
  "$wine" build/windows/src/tlqconverter.com --batch --split-rows 100 --log "$durable_log" "$durable" \
  </dev/null >/dev/null 2>&1 || true
synced_before_renamed() {  # every temporary file flushed (FlushFileBuffers: fsync) before its rename
  python3 - "$work/strace.txt" <<'PY'
import re, sys
synced, renamed = set(), 0
for line in open(sys.argv[1]):
    m = re.search(r"f(?:data)?sync\(\d+<([^>]*)>", line)
    if m:
        synced.add(m.group(1))
    m = re.search(r'rename(?:at2?)?\((?:AT_FDCWD[^,]*, )?"([^"]*tlqconverter_[A-Za-z0-9]{8}\.tmp)"', line)
    if m:
        renamed += 1
        if m.group(1) not in synced:
            sys.exit("renamed before it was flushed: " + line.strip())
sys.exit(0 if renamed == 5 else "%d renames of temporary files, not 5" % renamed)  # three parts, b, the log
PY
}
check "every part and the log flushed before it is renamed into place" synced_before_renamed
"$wineserver" -p </dev/null >/dev/null 2>&1 || true

# A large batch: copies of a recording of some megabytes.
big="$work/big"
mkdir -p "$big"
gen --entries 40000 --all-tilts --seed 5 "$big/r00.tlq"
for i in $(seq 1 23); do cp "$big/r00.tlq" "$big/r$(printf %02d "$i").tlq"; done
cp "$big/r00.tlq" "$work/one.tlq"
linux "$work/one.tlq" >/dev/null 2>&1  # the whole table, for comparison
whole_tables() {  # every table in the folder is the whole table
  local t
  for t in "$big"/*.csv; do cmp -s "$t" "$work/one.csv" || return 1; done
}
first_table() {  # waits (up to a minute) for the first table to be in place
  for _ in $(seq 600); do
    compgen -G "$big/*.csv" >/dev/null && return 0
    sleep 0.1
  done
  return 1
}

echo "batch, Ctrl-C"
"$wine" build/windows/src/tlqconverter.com --batch "$(windows_path "$big")" </dev/null >"$work/cancel.out" 2>/dev/null &
pid=$!
check "a first table" first_table
start=$(date +%s%N)
kill -INT "$pid"
wrc=0
wait "$pid" || wrc=$?
took=$((($(date +%s%N) - start) / 1000000))
echo "    (stopped $took ms after Ctrl-C)"
check "exit code 130" equals "$wrc" 130
check "stopped within two seconds" test "$took" -lt 2000
check "the summary says so" grep -q '^cancelled: .* not converted, ' "$work/cancel.out"
check "no temporary file left" no_temporary_files "$big"
check "only whole tables" whole_tables
check "not every table" test "$(find "$big" -name '*.csv' | wc -l)" -lt 24
rm -f "$big"/*.csv

echo "batch from the desktop: the progress dialog"
display=""
for n in $(seq 90 120); do [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }; done
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
shots=build/windows/screens
mkdir -p "$shots"
export DISPLAY=$display
# Wine's desktop takes the display its server started with: a new server.
"$wineserver" -k </dev/null >/dev/null 2>&1 || true
"$wineserver" -w </dev/null >/dev/null 2>&1 || true
window() {  # the id of the window whose name matches, waiting up to a minute
  local w
  for _ in $(seq 600); do
    w=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
dismiss_message() {  # the message box: waits for it, takes a picture ($1.png) and presses Return
  local box
  box=$(window "^tlqconverter$" || true)
  [ -n "$box" ] || return 1
  import -window root "$shots/$1.png"
  xdotool windowfocus --sync "$box" key Return
}
"$wine" build/windows/src/tlqconverter.exe --batch "$(windows_path "$big")" </dev/null >"$work/dialog.out" 2>/dev/null &
pid=$!
dialog=$(window "converting recordings to CSV" || true)
check "the progress dialog appears" test -n "$dialog"
if [ -n "$dialog" ]; then
  sleep 0.3
  import -window root "$shots/progress-dialog.png"
  xdotool windowfocus --sync "$dialog" key Escape  # its Cancel button
  start=$(date +%s%N)
  check "a message box says what was done" dismiss_message message-box
  echo "    (the message box came $((($(date +%s%N) - start) / 1000000)) ms after Cancel)"
fi
wrc=0
wait "$pid" || wrc=$?
check "exit code 130" equals "$wrc" 130
check "the summary says so" grep -q '^cancelled: ' "$work/dialog.out"
check "no temporary file left" no_temporary_files "$big"
check "only whole tables" whole_tables

echo "batch from the desktop: the dialog says what is done"
# Its title names the work (the line in it, "Converting N of M recordings to
# workbooks", is the same text as zenity's, tested on Linux). The workbooks
# are cancelled; the check, which is quick, runs to its end.
rm -f "$big"/*.csv
"$wine" build/windows/src/tlqconverter.exe --batch --xlsx "$(windows_path "$big")" </dev/null >/dev/null 2>&1 &
pid=$!
dialog=$(window "converting recordings to workbooks" || true)
check "the workbooks' dialog says so" test -n "$dialog"
if [ -n "$dialog" ]; then
  sleep 0.3
  import -window root "$shots/progress-dialog-workbooks.png"
  xdotool windowfocus --sync "$dialog" key Escape
fi
check "a message box after the workbooks" dismiss_message workbooks-cancelled
wrc=0
wait "$pid" || wrc=$?
check "exit code 130" equals "$wrc" 130
check "no temporary file left" no_temporary_files "$big"
rm -f "$big"/*.xlsx
"$wine" build/windows/src/tlqconverter.exe --check "$(windows_path "$big")" </dev/null >"$work/check.out" 2>/dev/null &
pid=$!
dialog=$(window "checking recordings" || true)
check "the check's dialog says so" test -n "$dialog"
[ -z "$dialog" ] || import -window root "$shots/progress-dialog-check.png"
check "a message box after the check" dismiss_message check-done
wrc=0
wait "$pid" || wrc=$?
check "the check's exit code" test "$wrc" -le 1
check "the check wrote no table" test -z "$(find "$big" -name '*.csv' -o -name '*.xlsx')"

echo "batch from the desktop: a folder without recordings"
mkdir -p "$work/empty"
printf 'not a recording' >"$work/empty/notes.txt"
"$wine" build/windows/src/tlqconverter.exe --batch "$(windows_path "$work/empty")" </dev/null >"$work/empty.out" 2>/dev/null &
pid=$!
check "a message box, no crash" dismiss_message no-recordings
wrc=0
wait "$pid" || wrc=$?
check "exit code 0" equals "$wrc" 0
check "the summary says none" grep -q '^No recordings (\*\.tlq) were found\.' "$work/empty.out"

echo "batch from the desktop: the failures listed in a file, opened once the message is read"
mkdir -p "$work/März ω"
printf '{' >"$work/März ω/kaputt.tlq"
# A new wine prefix has the editor's file type but maps no extension to it;
# a Windows desktop maps .txt to it.
"$wine" reg add 'HKCR\.txt' /ve /d txtfile /f </dev/null >/dev/null 2>&1
"$wine" build/windows/src/tlqconverter.exe --batch "$(windows_path "$work/März ω")" </dev/null >"$work/failed.out" 2>/dev/null &
pid=$!
box=$(window "^tlqconverter$" || true)
check "a message box" test -n "$box"
check "no editor over it" test -z "$(xdotool search --name 'tlqconverter_summary_' 2>/dev/null)"
[ -z "$box" ] || xdotool windowfocus --sync "$box" key Return
editor=$(window "tlqconverter_summary_" || true)
check "then the summary in an editor" test -n "$editor"
summary=$(ls "$WINEPREFIX"/drive_c/users/*/Temp/tlqconverter_summary_*.txt 2>/dev/null | head -n 1)
check "the summary file begins with a byte-order mark" equals "$(head -c 3 "$summary" | od -An -tx1 | tr -d ' ')" efbbbf
if [ -n "$editor" ]; then
  sleep 0.5
  import -window root "$shots/summary-in-editor.png"
  xdotool windowkill "$editor" 2>/dev/null || true
fi
wrc=0
wait "$pid" || wrc=$?
check "exit code 2" equals "$wrc" 2

echo "one recording from the desktop: its progress dialog, then a workbook the spreadsheet holds"
single="$work/Einzeln März"
mkdir -p "$single"
gen --entries 100000 --seed 12 "$single/Messung lang.tlq"  # about 25 MB
# The workbook made is opened: by a program that does nothing here.
"$wine" reg add 'HKCR\.xlsx' /ve /d tlqtest.xlsx /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCR\tlqtest.xlsx\shell\open\command' /ve /d 'cmd.exe /c rem "%1"' /f </dev/null >/dev/null 2>&1
"$wine" build/windows/src/tlqconverter.exe --xlsx "$(windows_path "$single/Messung lang.tlq")" </dev/null >/dev/null 2>&1 &
pid=$!
dialog=$(window "^Messung lang.tlq$" || true)
check "the progress dialog appears, titled with the recording" test -n "$dialog"
[ -z "$dialog" ] || { sleep 0.5; import -window root "$shots/single-converting.png"; }
for _ in $(seq 600); do  # until the workbook's own file grows: the library compresses
  [ -n "$(find "$single" -name 'tlqconverter_*.tmp' -size +0 2>/dev/null)" ] && break
  sleep 0.1
done
sleep 0.5
import -window root "$shots/single-compressing.png"
wrc=0
wait "$pid" || wrc=$?
check "exit code 0" equals "$wrc" 0
check "the workbook is whole" /usr/bin/python3 -c \
  'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$single/Messung lang.xlsx"
cp "$single/Messung lang.xlsx" "$work/older.xlsx"
mkfifo "$work/hold.in"
exec 9<>"$work/hold.in"  # the holder's input, open until it is to let go
"$wine" build/windows/src/hold_file.exe "$(windows_path "$single/Messung lang.xlsx")" <"$work/hold.in" >"$work/held.out" 2>/dev/null 9>&- &
holder=$!
for _ in $(seq 300); do grep -qs held "$work/held.out" && break; sleep 0.1; done
start=$(date +%s%N)
"$wine" build/windows/src/tlqconverter.exe --xlsx "$(windows_path "$single/Messung lang.tlq")" </dev/null >/dev/null 2>&1 &
pid=$!
box=$(window "^tlqconverter$" || true)
took=$((($(date +%s%N) - start) / 1000000))
echo "    (the message box came $took ms after the start, wine's start included)"
check "a message box before any work (converting takes several seconds here)" test -n "$box" -a "$took" -lt 3000
if [ -n "$box" ]; then
  sleep 0.3
  import -window root "$shots/held-workbook-message.png"
  xdotool windowfocus --sync "$box" key Return
fi
editor=$(window "tlqconverter_error_" || true)
check "then the report in an editor" test -n "$editor"
[ -z "$editor" ] || xdotool windowkill "$editor" 2>/dev/null || true
wrc=0
wait "$pid" || wrc=$?
check "exit code 2" equals "$wrc" 2
exec 9>&-  # its input ends: it lets go
wait "$holder" 2>/dev/null || true
check "the older workbook as it was" cmp -s "$work/older.xlsx" "$single/Messung lang.xlsx"
check "no temporary file left" no_temporary_files "$single"

echo "batch in a console window: names beyond ASCII"
wrc=0
TLQ_REQUIRE_CONSOLE=1 "$wine" build/windows/src/tlq_tests.exe --gtest_filter=BatchTrust.AConsoleShowsNamesBeyondAscii \
  </dev/null >"$work/console.out" 2>&1 || wrc=$?
check "the console's screen shows them" equals "$wrc" 0
[ "$wrc" -eq 0 ] || tail -n 20 "$work/console.out"

echo "one recording in a console window: where the table went"
wrc=0
TLQ_REQUIRE_CONSOLE=1 "$wine" build/windows/src/tlq_tests.exe --gtest_filter=Program.AConsoleIsToldWhereTheTableWent \
  </dev/null >"$work/console-single.out" 2>&1 || wrc=$?
check "the console's screen shows the line" equals "$wrc" 0
[ "$wrc" -eq 0 ] || tail -n 20 "$work/console-single.out"
unset DISPLAY

echo "batch under wine: $failures failed"
[ "$failures" -eq 0 ]
