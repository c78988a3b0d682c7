#!/usr/bin/env bash
# Builds the Windows (mingw-w64) dependencies from Debian's own sources into a
# cache folder outside the source tree, keyed by their source versions:
#   PCRE2      static, 8-bit, JIT on        (apt-get source pcre2)
#   zlib       static                       (apt-get source zlib)
#   libxlsxwriter static, with its zlib     (apt-get source libxlsxwriter),
#                 its C calls routed by src/platform/xlsxwriter_calls_win32.h;
#                 beside it the reading half of its minizip (libunzip.a), as
#                 Debian's libminizip gives both halves under Linux
#   GoogleTest static, for the test programs (/usr/src/googletest)
#   Boost      headers only                 (a folder with just boost/)
# Runs that find a finished build of the same version do nothing. The
# folder's name carries the recipe's revision (as cmake/mingw-w64.cmake
# does): a change to how a library is built takes a new folder, so that
# builds on the older recipe keep theirs.
set -euo pipefail

deps="${TLQ_WIN_DEPS:-$HOME/.cache/tlqconverter/win64-r3}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(g++-mingw-w64-x86-64-posix dpkg-dev googletest libboost-json1.81-dev cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian's source packages: a deb-src entry beside the system's own archive.
if ! grep -qs 'deb-src' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null; then
  uri=$(awk '/^URIs:/ && /debian\/?$/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
  $sudo tee /etc/apt/sources.list.d/tlqconverter-deb-src.sources >/dev/null <<SRC
Types: deb-src
URIs: ${uri:-http://deb.debian.org/debian}
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $sudo apt-get update -qq
fi

mkdir -p "$deps/src"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
toolchain="$source_dir/cmake/mingw-w64.cmake"

# Debian's source of a package at its newest version, unpacked into
# $work/tree, unless a build of that version (and of the recipe's inputs
# named by $2, when given) is there already (false then). Sets $package,
# $version, $stamp and $work; `built` ends the build.
source_to_build() {
  version=$(apt-cache showsrc "$1" | awk '/^Version:/ {print $2}' | sort -V | tail -n 1)
  package="$1"
  stamp="$deps/.$1-$version${2:+-$2}"
  [ ! -e "$stamp" ] || return 1
  echo "Building $1 $version for Windows"
  work="$deps/src/$1-$version"
  # (called as a condition, where set -e does not stop the script)
  { rm -rf "$work" && mkdir -p "$work" &&
      (cd "$work" && apt-get source --download-only "$1=$version" >/dev/null 2>&1 &&
         dpkg-source --no-check -x ./*.dsc tree >/dev/null); } ||
    { echo "build-windows-deps.sh: cannot unpack the source of $1 $version" >&2; exit 1; }
}
built() {
  rm -rf "$work"
  rm -f "$deps/.$package"-*  # the stamps of builds it replaced
  touch "$stamp"
}

# --- PCRE2 -------------------------------------------------------------------
if source_to_build pcre2; then
  cmake -S "$work/tree" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF \
    -DPCRE2_BUILD_PCRE2_32=OFF -DPCRE2_SUPPORT_JIT=ON -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF \
    -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF \
    -DPCRE2_SUPPORT_LIBREADLINE=OFF >/dev/null
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
  built
fi

# --- zlib --------------------------------------------------------------------
if source_to_build zlib; then
  # Only the static library: Debian's tarball leaves out the Windows
  # resource script that the DLL would need.
  cmake -S "$work/tree" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/build" --target zlibstatic >/dev/null
  mkdir -p "$deps/lib" "$deps/include"
  cp "$work/build/libzlibstatic.a" "$deps/lib/libz.a"
  cp "$work/tree/zlib.h" "$work/build/zconf.h" "$deps/include/"
  built
fi

# --- libxlsxwriter -------------------------------------------------------------
calls="$source_dir/src/platform/xlsxwriter_calls_win32.h"
if source_to_build libxlsxwriter "$(sha256sum "$calls" | cut -c1-12)"; then
  # Configured as Debian configures it (numbers through the C library's
  # printf, not the bundled dtoa), with mingw-w64's own printf, which rounds
  # exactly as glibc's does, so that a cell's digits are the same as under
  # Linux. The zip code and temporary files are the ones in the tarball; its
  # calls that name files take UTF-8 paths of any length, and its fprintf
  # writes a call at a time, through the program's functions that the
  # header names (the program links them with the library).
  cmake -S "$work/tree" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DCMAKE_C_FLAGS="-D__USE_MINGW_ANSI_STDIO=1 -include '$calls'" \
    -DZLIB_LIBRARY="$deps/lib/libz.a" -DZLIB_INCLUDE_DIR="$deps/include" >/dev/null
  cmake --build "$work/build" >/dev/null
  cmake --install "$work/build" >/dev/null
  # The library builds only the writing half of the minizip in its tarball
  # (zip.c, ioapi.c); the program reads the workbook back with the other
  # (unzip.c), built the same way, whose file calls are ioapi's in the
  # library. The headers go where Debian's libminizip-dev puts them.
  minizip="$work/tree/third_party/minizip"
  x86_64-w64-mingw32-gcc-posix -O2 -D__USE_MINGW_ANSI_STDIO=1 -include "$calls" -DNOUNCRYPT \
    -I"$deps/include" -c "$minizip/unzip.c" -o "$work/unzip.o"
  rm -f "$deps/lib/libunzip.a"
  x86_64-w64-mingw32-ar rcs "$deps/lib/libunzip.a" "$work/unzip.o"
  mkdir -p "$deps/include/minizip"
  cp "$minizip/unzip.h" "$minizip/zip.h" "$minizip/ioapi.h" "$deps/include/minizip/"
  built
fi

# --- GoogleTest ----------------------------------------------------------------
version=$(dpkg-query -W -f='${Version}' googletest)
stamp="$deps/.googletest-$version"
if [ ! -e "$stamp" ]; then
  echo "Building GoogleTest $version for Windows"
  work="$deps/src/googletest-build"
  cmake -S /usr/src/googletest -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$work" >/dev/null
  cmake --install "$work" >/dev/null
  rm -rf "$work"
  touch "$stamp"
fi

# --- Boost headers -----------------------------------------------------------
mkdir -p "$deps/include"
ln -sfn /usr/include/boost "$deps/include/boost"

echo "Windows dependencies ready in $deps"
