// The C library calls of libxlsxwriter's Windows build, as this program
// needs them. scripts/build-windows-deps.sh compiles the library with this
// header included ahead of each of its sources (-include), so that its own
// calls, and only those, reach the functions below
// (xlsxwriter_calls_win32.cpp, linked after the library wherever it is
// used).
//
// The calls that name a file take the program's paths, UTF-8 of any length:
// the workbook's zip (minizip's fopen), the temporary files (tmpfileplus's
// stat and _open, in the folder the program gives or in TMP or TEMP, which it
// reads with getenv) and lxw_fopen. MinGW's narrow calls would read the
// names in the ANSI code page and stop at 260 characters; the library leaves
// its own wide-character code out of MinGW builds.
//
// The numbers it formats into memory (lxw_sprintf_dbl: a cell's value, a
// chart's axis) go through __builtin_snprintf, which GCC makes a call of
// msvcrt's snprintf, past the header that routes snprintf to mingw-w64's own:
// that would write three exponent digits ("1E-005") where glibc writes two.
// They are routed to mingw-w64's as well.
//
// fprintf, with which the library writes all of its XML, formats with
// MinGW's printf as before (the library is built with
// __USE_MINGW_ANSI_STDIO, whose digits are glibc's), but into memory, and
// hands the text to the stream in one write: MinGW's fprintf puts each
// character through msvcrt's fputc, which takes the stream's lock.
//
// The system headers come first, as they are; the names are routed after
// them, as calls (function-like macros), so that no declaration, inline
// definition or structure of the headers (struct stat) changes. Outside
// Windows the library takes the program's paths as they are.
#pragma once

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#ifdef __cplusplus
extern "C" {
#endif

FILE* tlq_xlsx_fopen(const char* path, const char* mode);
int tlq_xlsx_open(const char* path, int flags, ...);
int tlq_xlsx_stat(const char* path, struct stat* info);
// The variable's value in UTF-8; valid until it is asked for again with
// another value.
char* tlq_xlsx_getenv(const char* name);
int tlq_xlsx_fprintf(FILE* stream, const char* format, ...) __attribute__((__format__(__gnu_printf__, 2, 3)));

#ifdef __cplusplus
}
#else
// The zip's offsets past 2 GiB: the library's MinGW build asks minizip for
// the C library's 32-bit ftell and fseek (USE_FILE32API, set on the command
// line, which this header follows), with which a workbook of more than
// 2 GiB would be cut; minizip then takes fopen64, ftello64 and fseeko64.
#undef USE_FILE32API
#define fopen64(path, mode) tlq_xlsx_fopen(path, mode)
#define fopen(path, mode) tlq_xlsx_fopen(path, mode)
#define _open(...) tlq_xlsx_open(__VA_ARGS__)
#define stat(path, info) tlq_xlsx_stat(path, info)
#define getenv(name) tlq_xlsx_getenv(name)
#define fprintf(...) tlq_xlsx_fprintf(__VA_ARGS__)
#define __builtin_snprintf(...) __mingw_snprintf(__VA_ARGS__)
#endif
