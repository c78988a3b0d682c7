#!/usr/bin/env bash
# The Windows setup program end to end under wine: built by cpack in the
# Windows cross-build. Installed silently just for the user (files in the
# user's programs folder, keys under HKEY_CURRENT_USER only, the folder verb
# run through the shell) and removed. Then for all users into a folder of
# its own, checked (files, version resource, the verb, the ".tlq" mapping it
# adds, the uninstall entry), used to convert the sample, installed again
# over itself as a newer version, and uninstalled: what it added goes, and a
# ".tlq" type that was there before stays as it was. Runs in $WINEPREFIX
# when the Windows suite has one, else in a fresh prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh setup
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX
  WINEPREFIX="$(mktemp -d)/wine"
  trap '"$wineserver" -k </dev/null >/dev/null 2>&1 || true; rm -rf "$(dirname "$WINEPREFIX")"' EXIT
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  "$wineserver" -w </dev/null >/dev/null 2>&1
  "$wineserver" -p </dev/null >/dev/null 2>&1  # like the Windows suite's
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
setup="build/windows/tlqconverter-${version}-setup.exe"
(cd build/windows && cpack >/dev/null)
newer_dir=$(mktemp -d)
(cd build/windows && cpack -D CPACK_PACKAGE_VERSION=9.9.9 -D CPACK_PACKAGE_VERSION_MAJOR=9 -D CPACK_PACKAGE_VERSION_MINOR=9 \
  -D CPACK_PACKAGE_VERSION_PATCH=9 -D CPACK_PACKAGE_FILE_NAME=newer-setup -B "$newer_dir" >/dev/null)
newer="$newer_dir/newer-setup.exe"

failures=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
}
# wine waits for the program it starts (the setup program waits for
# "--install" in turn); not for the server, which the Windows suite keeps
# running.
run() { "$wine" "$@" </dev/null >/dev/null 2>&1; }
# The uninstaller copies itself away and returns at once; it is done when
# its folder and its entry are gone (or after a minute).
uninstall() {  # the folder (Unix path), the entry, then the uninstaller's command
  local folder=$1 entry=$2
  shift 2
  run "$@" || return
  for _ in $(seq 120); do
    [ ! -e "$folder" ] && lacks_key "$entry" && return 0
    sleep 0.5
  done
}
# A value's data, "" when the value or its key is missing ("" names the default value).
value() {
  local args=(/v "$2")
  [ -n "$2" ] || args=(/ve)
  "$wine" reg query "$1" "${args[@]}" </dev/null 2>/dev/null | tr -d '\r' |
    awk '/REG_/ { sub(/^[ \t]*[^ \t]+([ \t]+[^ \t]+)*[ \t]+REG_[A-Z_]+[ \t]+/, ""); print; exit }' || true
}
# The value once it has the data expected (polled for at most 20 seconds: a
# write by a program that has just ended can land a moment later).
becomes() {  # key, value name, expected data
  local got
  for _ in $(seq 80); do
    got=$(value "$1" "$2")
    [ "$got" = "$3" ] && return 0
    sleep 0.25
  done
  echo "    got [$got], expected [$3]"
  return 1
}
has_key() { "$wine" reg query "$1" </dev/null >/dev/null 2>&1; }
lacks_key() { ! has_key "$1"; }
equals() { [ "$1" = "$2" ] || { echo "    got [$1], expected [$2]"; return 1; }; }

# What the machine's registry says of us: the lines that name the program,
# the file type or the extension (a just-for-me setup adds none).
machine_mentions() {
  "$wine" reg export HKLM 'C:\tlqtest\hklm.reg' /y </dev/null >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/tlqtest/hklm.reg" | grep -iE 'tlqconverter|OstrelTlqFile|\\\.tlq\]' || true
}
mkdir -p "$WINEPREFIX/drive_c/tlqtest"
for classes in HKCR 'HKCU\Software\Classes'; do
  run reg delete "$classes\\.tlq" /f || true
  run reg delete "$classes\\OstrelTlqFile" /f || true
done
run reg add 'HKCU\Control Panel\International' /v sList /t REG_SZ /d ';' /f
run reg add 'HKCU\Control Panel\International' /v sDecimal /t REG_SZ /d ',' /f

echo "setup program, just for me"
user_dir_win="$("$wine" cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')\Programs\tlqconverter"
user_dir_unix=$("$wine" winepath -u "$user_dir_win" 2>/dev/null | tr -d '\r')
user_exe="$user_dir_win\\tlqconverter.exe"
user_classes='HKCU\Software\Classes'
user_entry='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\tlqconverter'
machine_before=$(machine_mentions)
check "silent install just for me succeeds" run "$setup" /S /CurrentUser
check "program in the user's programs folder" test -f "$user_dir_unix/tlqconverter.exe"
check "console twin there too" test -f "$user_dir_unix/tlqconverter.com"
check "nothing in Program Files" test ! -e "$WINEPREFIX/drive_c/Program Files/tlqconverter" -a ! -e "$WINEPREFIX/drive_c/Program Files (x86)/tlqconverter"
check "the user's verb" becomes "$user_classes\\OstrelTlqFile\\shell\\tlqconverter\\command" "" "\"$user_exe\" \"%1\""
check "the user's workbook verb" becomes "$user_classes\\OstrelTlqFile\\shell\\tlqconverter.xlsx\\command" "" \
  "\"$user_exe\" --xlsx \"%1\""
check "the user's .tlq maps to the file type" becomes "$user_classes\\.tlq" "" OstrelTlqFile
check "the user's folder verb" becomes "$user_classes\\Directory\\shell\\tlqconverter.batch\\command" "" \
  "\"$user_exe\" --batch \"%1\""
check "the user's folder verb that checks" becomes "$user_classes\\Directory\\shell\\tlqconverter.check\\command" "" \
  "\"$user_exe\" --check \"%1\""
check "the user's Apps & features entry" equals "$(value "$user_entry" DisplayName) $(value "$user_entry" InstallLocation)" \
  "tlqconverter $user_dir_win"
check "its uninstaller" becomes "$user_entry" QuietUninstallString "\"$user_dir_win\\uninstall.exe\" /S"
check "nothing of the machine's" equals "$(machine_mentions)" "$machine_before"
# "tlqconverter --install" typed in an administrator's console in the
# install folder: the program is the user's, and so are its verbs.
run "$user_dir_unix/tlqconverter.com" --install
check "--install there names the user's program" becomes "$user_classes\\OstrelTlqFile\\shell\\tlqconverter\\command" "" \
  "\"$user_exe\" \"%1\""
check "and writes nothing of the machine's" equals "$(machine_mentions)" "$machine_before"
# The folder verb as Explorer runs it. (Wine's HKEY_CLASSES_ROOT leaves the
# user's classes out, which Windows shows there: the shell is handed the
# user's Directory key.)
mkdir -p "$WINEPREFIX/drive_c/tlqtest/mine/sub"
cp examples/sample.tlq "$WINEPREFIX/drive_c/tlqtest/mine/sub/run 1.tlq"
# (No display: the desktop program's progress and message show nowhere.)
shell_verb() { env -u DISPLAY -u WAYLAND_DISPLAY "$wine" build/windows/src/shell_verb.exe "$@" </dev/null >/dev/null 2>&1; }
# The check first: it writes nothing, and the sample has findings (exit 1).
checked=0
shell_verb tlqconverter.check 'C:\tlqtest\mine' 'Software\Classes\Directory' || checked=$?
check "the check verb through the shell finds the sample's findings" equals "$checked" 1
check "which writes no table" test ! -e "$WINEPREFIX/drive_c/tlqtest/mine/sub/run 1.csv"
check "the folder verb through the shell" shell_verb tlqconverter.batch 'C:\tlqtest\mine' 'Software\Classes\Directory'
check "converts the folder" cmp -s "$WINEPREFIX/drive_c/tlqtest/mine/sub/run 1.csv" examples/sample.expected-semicolon-comma.csv
rm -rf "$WINEPREFIX/drive_c/tlqtest/mine"
# Verbs of the machine's that an earlier version wrote from that console:
# those that name this folder go with it, another folder's stays.
machine_classes='HKLM\Software\Classes'
run reg add "$machine_classes\\OstrelTlqFile\\shell\\tlqconverter\\command" /ve /d "\"$user_exe\" \"%1\"" /f
run reg add "$machine_classes\\OstrelTlqFile\\shell\\tlqconverter.xlsx\\command" /ve \
  /d '"C:\tlqtest\elsewhere\tlqconverter.exe" --xlsx "%1"' /f
run reg add "$machine_classes\\Directory\\shell\\tlqconverter.batch\\command" /ve /d "\"$user_exe\" --batch \"%1\"" /f
run reg add "$machine_classes\\Directory\\shell\\tlqconverter.check\\command" /ve /d "\"$user_exe\" --check \"%1\"" /f
check "silent uninstall just for me succeeds" uninstall "$user_dir_unix" "$user_entry" "$user_dir_unix/uninstall.exe" /S
check "the user's files gone" test ! -e "$user_dir_unix"
for key in OstrelTlqFile .tlq 'Directory\shell\tlqconverter.batch' 'Directory\shell\tlqconverter.check'; do
  check "the user's $key gone" lacks_key "$user_classes\\$key"
done
check "the user's entry gone" lacks_key "$user_entry"
check "the machine's verb that named the folder gone" lacks_key "$machine_classes\\OstrelTlqFile\\shell\\tlqconverter"
check "the machine's folder verb that named it gone" lacks_key "$machine_classes\\Directory\\shell\\tlqconverter.batch"
check "the machine's check verb that named it gone" lacks_key "$machine_classes\\Directory\\shell\\tlqconverter.check"
check "the machine's verb of another folder left" \
  becomes "$machine_classes\\OstrelTlqFile\\shell\\tlqconverter.xlsx\\command" "" \
  '"C:\tlqtest\elsewhere\tlqconverter.exe" --xlsx "%1"'
run reg delete "$machine_classes\\OstrelTlqFile" /f  # the test's own
check "still nothing of the machine's" equals "$(machine_mentions)" "$machine_before"

# (NSIS reads "/D=" from the raw command line, unquoted: wine would quote a
# folder with blanks, so the test's folder has none.)
dir_win='C:\tlqtest\Programs\tlqconverter'
dir_unix="$WINEPREFIX/drive_c/tlqtest/Programs/tlqconverter"
exe_win="$dir_win\\tlqconverter.exe"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\tlqconverter'
verb='HKCR\OstrelTlqFile\shell\tlqconverter'
workbook_verb='HKCR\OstrelTlqFile\shell\tlqconverter.xlsx'
folder_verb='HKCR\Directory\shell\tlqconverter.batch'
check_verb='HKCR\Directory\shell\tlqconverter.check'
other_folder_verb='HKCR\Directory\shell\tlqtest.other'

for before in none viewer; do
  echo "setup program, .tlq before: $before"
  run reg delete 'HKCR\.tlq' /f || true
  run reg delete 'HKCR\OstrelTlqFile' /f || true
  if [ "$before" = viewer ]; then  # the viewer that normally owns the type
    run reg add 'HKCR\.tlq' /ve /d OstrelTlqFile /f
    run reg add 'HKCR\OstrelTlqFile' /ve /d 'Treloqa file' /f
    run reg add 'HKCR\OstrelTlqFile\shell\open\command' /ve /d '"C:\viewer\treloqview.exe" "%1"' /f
  fi

  run reg add "$other_folder_verb\command" /ve /d 'other.exe "%1"' /f  # another program's folder verb
  check "silent install for all users succeeds" run "$setup" /S /AllUsers "/D=$dir_win"
  check "program installed" test -f "$dir_unix/tlqconverter.exe"
  check "console twin installed" test -f "$dir_unix/tlqconverter.com"
  check "uninstaller installed" test -f "$dir_unix/uninstall.exe"
  check "version resource" equals "$(python3 packaging/windows/pe_version.py "$dir_unix/tlqconverter.exe" | grep -E '^(ProductVersion|OriginalFilename|asInvoker)=' | tr '\n' ' ')" \
    "OriginalFilename=tlqconverter.exe ProductVersion=$version asInvoker=yes "
  check "verb name" becomes "$verb" "" "Open with Excel"
  check "verb command" becomes "$verb\\command" "" "\"$exe_win\" \"%1\""
  check "workbook verb name" becomes "$workbook_verb" "" "Open as workbook"
  check "workbook verb command" becomes "$workbook_verb\\command" "" "\"$exe_win\" --xlsx \"%1\""
  check ".tlq maps to the file type" becomes 'HKCR\.tlq' "" OstrelTlqFile
  check "folder verb name" becomes "$folder_verb" "" "Convert recordings to CSV"
  check "folder verb command" becomes "$folder_verb\\command" "" "\"$exe_win\" --batch \"%1\""
  check "check verb name" becomes "$check_verb" "" "Check recordings"
  check "check verb command" becomes "$check_verb\\command" "" "\"$exe_win\" --check \"%1\""
  check "DisplayName" becomes "$uninstall_key" DisplayName tlqconverter
  check "DisplayVersion" becomes "$uninstall_key" DisplayVersion "$version"
  check "Publisher" becomes "$uninstall_key" Publisher "The tlqconverter developers"
  check "InstallLocation" becomes "$uninstall_key" InstallLocation "$dir_win"
  check "UninstallString" becomes "$uninstall_key" UninstallString "\"$dir_win\\uninstall.exe\""
  check "QuietUninstallString" becomes "$uninstall_key" QuietUninstallString "\"$dir_win\\uninstall.exe\" /S"
  check "NoModify, NoRepair" equals "$(value "$uninstall_key" NoModify) $(value "$uninstall_key" NoRepair)" "0x1 0x1"
  check "EstimatedSize" test -n "$(value "$uninstall_key" EstimatedSize)"

  # The installed program converts the sample.
  cp examples/sample.tlq "$WINEPREFIX/drive_c/tlqtest/sample.tlq"
  check "installed program converts the sample" run "$dir_unix/tlqconverter.exe" 'C:\tlqtest\sample.tlq'
  check "its table" cmp -s "$WINEPREFIX/drive_c/tlqtest/sample.csv" examples/sample.expected-semicolon-comma.csv
  check "and its workbook" run "$dir_unix/tlqconverter.exe" --xlsx 'C:\tlqtest\sample.tlq'
  check "a workbook it is" equals "$(head -c 2 "$WINEPREFIX/drive_c/tlqtest/sample.xlsx")" "PK"

  # A console that is given "tlqconverter" without its extension finds the
  # console twin first (PATHEXT), waits for it and gets its exit code.
  mkdir -p "$WINEPREFIX/drive_c/tlqtest/folder/sub"
  cp examples/sample.tlq "$WINEPREFIX/drive_c/tlqtest/folder/sub/run 1.tlq"
  printf '{"data":[' >"$WINEPREFIX/drive_c/tlqtest/folder/broken.tlq"
  # (wine's cmd takes a quoted program path for a name: the folder has no blank)
  console=$("$wine" cmd /v:on /c "$dir_win\\tlqconverter --version & $dir_win\\tlqconverter --batch C:\\tlqtest\\folder & echo exit !errorlevel!" </dev/null 2>/dev/null | tr -d '\r' || true)
  check "the console shows the version" equals "$(sed -n 1p <<<"$console")" "tlqconverter $version"
  # The desktop program started from a console anyway shows its version there.
  desktop=$("$wine" cmd /c "$dir_win\\tlqconverter.exe --version" </dev/null 2>/dev/null | tr -d '\r' || true)
  check "the desktop program shows its version in a console" equals "$desktop" "tlqconverter $version"
  check "it converts the folder" cmp -s "$WINEPREFIX/drive_c/tlqtest/folder/sub/run 1.csv" \
    examples/sample.expected-semicolon-comma.csv
  check "its summary" grep -q '^1 recording converted, 1 failed, ' <<<"$console"
  check "its exit code" equals "$(tail -n 1 <<<"$console")" "exit 2"
  # The report of the failure names the program that ran.
  check "the console ran the console twin" grep -rqF "CMD: $dir_win\\tlqconverter.com --batch C:\\tlqtest\\folder" \
    "$WINEPREFIX/drive_c/users"
  rm -rf "$WINEPREFIX/drive_c/tlqtest/folder"
  # "tlqconverter --install" typed in a console runs the console twin; the
  # verbs it writes still start the desktop program.
  run cmd /c "$dir_win\\tlqconverter --install"
  check "--install from the console names the desktop program" becomes "$verb\\command" "" "\"$exe_win\" \"%1\""

  # A newer version over it: upgraded in place.
  check "newer version installs over it" run "$newer" /S
  check "one entry, newer version" becomes "$uninstall_key" DisplayVersion 9.9.9
  check "same folder" becomes "$uninstall_key" InstallLocation "$dir_win"
  check "verb still there" becomes "$verb\\command" "" "\"$exe_win\" \"%1\""

  check "silent uninstall succeeds" uninstall "$dir_unix" "$uninstall_key" "$dir_unix/uninstall.exe" /S
  check "files and folder gone" test ! -e "$dir_unix"
  check "verb gone" lacks_key "$verb"
  check "workbook verb gone" lacks_key "$workbook_verb"
  check "folder verb gone" lacks_key "$folder_verb"
  check "check verb gone" lacks_key "$check_verb"
  check "another program's folder verb left" has_key "$other_folder_verb"
  check "uninstall entry gone" lacks_key "$uninstall_key"
  if [ "$before" = none ]; then
    check ".tlq mapping it added gone" lacks_key 'HKCR\.tlq'
    check "file type it added gone" lacks_key 'HKCR\OstrelTlqFile'
  else
    check ".tlq type left as it was" becomes 'HKCR\.tlq' "" OstrelTlqFile
    check "viewer's verb left" becomes 'HKCR\OstrelTlqFile\shell\open\command' "" '"C:\viewer\treloqview.exe" "%1"'
    check "file type's name left" becomes 'HKCR\OstrelTlqFile' "" "Treloqa file"
  fi
done
run reg delete "$other_folder_verb" /f || true

# Asked, in a virtual display: xdotool picks "just for me" on the first page
# and goes on, by the keys the pages' texts underline (not by where their
# controls are, which depends on the dialog's font); the pictures of the
# pages land in build/windows/screens/.
echo "setup program, asked"
machine_before=$(machine_mentions)
shots=build/windows/screens
mkdir -p "$shots"
# Wine's desktop takes the display its server started with: a new server,
# once the display is there (Xvfb finds a free one and names it).
"$wineserver" -k </dev/null >/dev/null 2>&1 || true
"$wineserver" -w </dev/null >/dev/null 2>&1 || true
display_number="$WINEPREFIX/drive_c/tlqtest/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$display_number" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$display_number" ] && break; sleep 0.1; done
display=":$(cat "$display_number")"
DISPLAY=$display "$wine" "$setup" </dev/null >/dev/null 2>&1 &
asked=$!
window=""
for _ in $(seq 300); do
  window=$(DISPLAY=$display xdotool search --name '^tlqconverter .* Setup' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
# What the window shows, as a digest ("" when it cannot be taken).
picture() {
  local digest
  digest=$(DISPLAY=$display import -window "$window" rgb:- 2>/dev/null | md5sum) || digest=""
  echo "${digest%% *}"
}
# Waits until the window shows something other than `before` and holds
# still for a second (for at most 30 seconds), and keeps its picture as
# NAME.png.
shown=""
settled() {  # before, name
  local last="" now="" still=0
  for _ in $(seq 150); do
    now=$(picture)
    if [ -n "$now" ] && [ "$now" != "$1" ] && [ "$now" = "$last" ]; then
      still=$((still + 1))
      [ "$still" -lt 5 ] || break
    else
      still=0
    fi
    last=$now
    sleep 0.2
  done
  shown=$now
  DISPLAY=$display import -window root "$shots/$2.png"
}
press() { DISPLAY=$display xdotool key --clearmodifiers "$1"; }
check "the setup program's window" test -n "$window"
if [ -n "$window" ]; then
  settled "" setup-users
  press alt+m  # "Install just for me"
  settled "$shown" setup-users-chosen
  press alt+n  # "Next >"
  settled "$shown" setup-folder
  press alt+i  # "Install"
  for _ in $(seq 120); do has_key "$user_entry" && break; sleep 0.5; done
  settled "$shown" setup-done
  press alt+c  # "Close"
fi
closed() { ! kill -0 "$asked" 2>/dev/null; }
for _ in $(seq 60); do closed && break; sleep 0.5; done
check "closed when done" closed
kill "$asked" 2>/dev/null || true
kill "$xvfb" 2>/dev/null || true
"$wineserver" -k </dev/null >/dev/null 2>&1 || true
"$wineserver" -w </dev/null >/dev/null 2>&1 || true
check "just for me: in the user's programs folder" becomes "$user_entry" InstallLocation "$user_dir_win"
check "the user's verb" becomes "$user_classes\\OstrelTlqFile\\shell\\tlqconverter\\command" "" "\"$user_exe\" \"%1\""
check "nothing of the machine's" equals "$(machine_mentions)" "$machine_before"
check "removed again" uninstall "$user_dir_unix" "$user_entry" "$user_dir_unix/uninstall.exe" /S
# (the viewer's type is the machine's: the user's, made for our verbs, goes)
check "the user's file type gone again" lacks_key "$user_classes\\OstrelTlqFile"
rm -rf "$newer_dir"
echo "setup program: $(stat -c %s "$setup") bytes, $failures failed"
[ "$failures" -eq 0 ]
