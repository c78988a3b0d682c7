# Cross-build for 64-bit Windows with Debian's mingw-w64 toolchain (the
# -posix flavour, for std::thread and friends). The third-party libraries
# come from TLQ_WIN_DEPS, built from Debian's sources by
# scripts/build-windows-deps.sh; nothing is taken from the Linux /usr/include.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(DEFINED ENV{TLQ_WIN_DEPS})
  set(_deps "$ENV{TLQ_WIN_DEPS}")
else()
  # The recipe's revision, as in scripts/build-windows-deps.sh.
  set(_deps "$ENV{HOME}/.cache/tlqconverter/win64-r3")
endif()
set(TLQ_WIN_DEPS "${_deps}" CACHE PATH "Windows dependencies, built from Debian's sources")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${TLQ_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: no DLL beside it but the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine.
find_program(TLQ_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TLQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TLQ_WINE})
endif()
