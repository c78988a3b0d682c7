#include <gtest/gtest.h>

#include <time.h>

#include <thread>

namespace {

// The program's gmtime is the thread's own: two threads (two workbooks of a
// batch closed at once) get results of their own, each right.
TEST(Gmtime, EachThreadHasItsOwnResult) {
  const time_t first = 1'714'730'400, second = 0;  // 2024-05-03 10:00:00, 1970-01-01
  struct tm* mine = gmtime(&first);
  struct tm* other = nullptr;
  int otherYear = 0;
  std::thread([&] {
    other = gmtime(&second);
    otherYear = other->tm_year;
  }).join();
  EXPECT_NE(mine, other);
  EXPECT_EQ(mine->tm_year, 124);
  EXPECT_EQ(mine->tm_hour, 10);
  EXPECT_EQ(otherYear, 70);
}

}  // namespace
