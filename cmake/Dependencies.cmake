# Third-party libraries, always from the system (or the cross toolchain's
# sysroot); nothing is vendored.

if(WIN32)
  # Static PCRE2 from the cross-build's dependency folder.
  find_path(PCRE2_INCLUDE_DIR pcre2.h REQUIRED)
  find_library(PCRE2_LIBRARY NAMES pcre2-8-static pcre2-8 REQUIRED)
  add_library(tlq_pcre2 STATIC IMPORTED)
  set_target_properties(tlq_pcre2 PROPERTIES
    IMPORTED_LOCATION ${PCRE2_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${PCRE2_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
  # Static libxlsxwriter and its zlib, from the same folder, and after them
  # the C calls the library was built to make (tlq_xlsxwriter_calls, in
  # src/: platform/xlsxwriter_calls_win32.h).
  find_path(XLSXWRITER_INCLUDE_DIR xlsxwriter.h REQUIRED)
  find_library(XLSXWRITER_LIBRARY NAMES libxlsxwriter.a xlsxwriter REQUIRED)
  find_library(ZLIB_STATIC_LIBRARY NAMES libz.a z REQUIRED)
  add_library(tlq_zlib STATIC IMPORTED)
  set_target_properties(tlq_zlib PROPERTIES IMPORTED_LOCATION ${ZLIB_STATIC_LIBRARY}
                                            INTERFACE_INCLUDE_DIRECTORIES ${XLSXWRITER_INCLUDE_DIR})
  add_library(tlq_xlsxwriter STATIC IMPORTED)
  set_target_properties(tlq_xlsxwriter PROPERTIES
    IMPORTED_LOCATION ${XLSXWRITER_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${XLSXWRITER_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES "${ZLIB_STATIC_LIBRARY};tlq_xlsxwriter_calls")
  # minizip's reading half (unzip), from the library's own copy of minizip,
  # whose writing half and file calls the library holds: to read the
  # workbook back.
  find_path(MINIZIP_INCLUDE_DIR unzip.h PATH_SUFFIXES minizip REQUIRED)
  find_library(UNZIP_LIBRARY NAMES libunzip.a unzip REQUIRED)
  add_library(tlq_minizip STATIC IMPORTED)
  set_target_properties(tlq_minizip PROPERTIES
    IMPORTED_LOCATION ${UNZIP_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES "${MINIZIP_INCLUDE_DIR};${XLSXWRITER_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES tlq_xlsxwriter)
  # A build folder configured before would still find the library of the
  # older recipe, which takes no such paths.
  file(STRINGS ${XLSXWRITER_LIBRARY} _routed LIMIT_COUNT 1 REGEX tlq_xlsx_fopen)
  if(NOT _routed)
    message(FATAL_ERROR "${XLSXWRITER_LIBRARY} was built without src/platform/xlsxwriter_calls_win32.h: "
                        "run scripts/build-windows-deps.sh, then configure afresh (cmake --preset windows --fresh)")
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
  add_library(tlq_pcre2 ALIAS PkgConfig::PCRE2)
  pkg_check_modules(XLSXWRITER REQUIRED IMPORTED_TARGET xlsxwriter)
  add_library(tlq_xlsxwriter ALIAS PkgConfig::XLSXWRITER)
  # minizip, which the library zips with: its reading half reads the
  # workbook back.
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(tlq_minizip ALIAS PkgConfig::MINIZIP)
  # zlib, as the library compresses: to measure how it will (the time a
  # workbook's last phase takes).
  pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
  add_library(tlq_zlib ALIAS PkgConfig::ZLIB)
endif()

# Boost.JSON is used header-only: one translation unit compiles its sources.
find_path(BOOST_JSON_INCLUDE_DIR boost/json.hpp REQUIRED)
add_library(boost_json_headers INTERFACE)
target_include_directories(boost_json_headers SYSTEM INTERFACE ${BOOST_JSON_INCLUDE_DIR})
# The JSON parser asserts, in builds with assertions, that a byte it reads
# twice did not change in between. It does change when another program cuts
# the recording short under the mapping (the lost bytes then read as zeros):
# the parser's reads stay within the text, and the change is reported as a
# file error (Recording::requireUnchanged), not as an abort without a report.
target_compile_definitions(boost_json_headers INTERFACE BOOST_JSON_NO_LIB BOOST_CONTAINER_NO_LIB BOOST_DISABLE_ASSERTS)

if(TLQ_BUILD_TESTS)
  find_package(GTest REQUIRED)
  # MPFR gives the exact reference values some tests compare with; where it is
  # missing (the Windows cross-build) those tests are left out.
  find_path(MPFR_INCLUDE_DIR mpfr.h)
  find_library(MPFR_LIBRARY mpfr)
  find_library(GMP_LIBRARY gmp)
  if(MPFR_INCLUDE_DIR AND MPFR_LIBRARY AND GMP_LIBRARY)
    add_library(tlq_mpfr INTERFACE)
    target_include_directories(tlq_mpfr SYSTEM INTERFACE ${MPFR_INCLUDE_DIR})
    target_link_libraries(tlq_mpfr INTERFACE ${MPFR_LIBRARY} ${GMP_LIBRARY})
    target_compile_definitions(tlq_mpfr INTERFACE TLQ_HAVE_MPFR)
  endif()
endif()
if(TLQ_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
