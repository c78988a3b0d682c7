// gmtime with a result of each thread's own, as Windows' is. libxlsxwriter
// stamps every workbook's creation time with gmtime, whose result glibc
// keeps in one buffer for the whole process: two workbooks of a batch
// closed at once could each be stamped with the other's time (a data race).
// Linked into the programs themselves, this definition is the one the
// library's call finds.
#include <time.h>

extern "C" struct tm* gmtime(const time_t* time) {
  thread_local struct tm result;
  return gmtime_r(time, &result);
}
