# Third-party libraries, always from the system (or the cross toolchain's
# sysroot); nothing is vendored.

find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)

# Boost.JSON is used header-only: one translation unit compiles its sources.
find_path(BOOST_JSON_INCLUDE_DIR boost/json.hpp REQUIRED)
add_library(boost_json_headers INTERFACE)
target_include_directories(boost_json_headers SYSTEM INTERFACE ${BOOST_JSON_INCLUDE_DIR})
target_compile_definitions(boost_json_headers INTERFACE BOOST_JSON_NO_LIB BOOST_CONTAINER_NO_LIB)

if(TLQ_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(TLQ_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
