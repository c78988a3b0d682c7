#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and those of
# the named extras: fuzz (clang 16 and libFuzzer), coverage (gcovr), package
# (the Debian package's tools), setup (makensis, for the Windows setup
# program, and a virtual display with a hand and an eye for its pages).
# build-only leaves out what only the tests use (MPFR, Python with openpyxl,
# xdg-utils and desktop-file-utils for the desktop's defaults,
# LibreOffice, the German locale). Does nothing when they are all present
# already.
#
#   install-deps.sh [build-only] [fuzz] [coverage] [package] [setup]
set -euo pipefail

build=(
  cmake ninja-build g++ pkg-config
  libpcre2-dev libboost-json1.81-dev libxlsxwriter-dev libminizip-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
tests=(libmpfr-dev locales python3 python3-openpyxl libreoffice-calc-nogui strace xdg-utils desktop-file-utils)
extras=()
for extra in "$@"; do
  case "$extra" in
    build-only) tests=() ;;
    fuzz) extras+=(clang-16 libclang-rt-16-dev) ;;
    coverage) extras+=(gcovr) ;;
    package) extras+=(dpkg-dev fakeroot lintian man-db) ;;
    setup) extras+=(nsis xvfb xdotool imagemagick) ;;
    *) echo "install-deps.sh: unknown extra: $extra" >&2; exit 2 ;;
  esac
done
packages=("${build[@]}" "${tests[@]}" "${extras[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The separator tests read a decimal comma from a German locale; generate it
# when we are allowed to (the tests skip those cases otherwise).
if ((${#tests[@]})) && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
  fi
fi
