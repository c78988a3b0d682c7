#include "convert/ordered_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

void pause(int microseconds) { std::this_thread::sleep_for(std::chrono::microseconds(microseconds)); }

TEST(RunInOrder, TakesEveryPieceInOrderWithFewAhead) {
  for (unsigned threads : {1u, 2u, 4u, 7u}) {
    std::atomic<size_t> started{0}, taken{0}, mostAhead{0};
    std::string all;
    runInOrder<std::string>(
        300, threads,
        [&](size_t i, std::string& out) {
          size_t ahead = ++started - taken.load();
          for (size_t seen = mostAhead.load(); ahead > seen && !mostAhead.compare_exchange_weak(seen, ahead);) {
          }
          pause(static_cast<int>(i * 7919 % 200));  // finish out of order
          out = std::to_string(i) + ";";
        },
        [&](std::string& out) {
          all += out;
          ++taken;
        });
    std::string expected;
    for (int i = 0; i < 300; ++i) expected += std::to_string(i) + ";";
    EXPECT_EQ(all, expected) << threads;
    EXPECT_LE(mostAhead.load(), 2 * threads + 1) << threads;  // the piece about to be taken, and 2 per thread
  }
}

TEST(RunInOrder, FirstFailureInOrderWinsWhicheverCameFirst) {
  std::string all;
  std::string failure = testing::failureOf([&] {
    runInOrder<std::string>(
        60, 4,
        [](size_t i, std::string& out) {
          out = std::to_string(i) + ";";
          if (i == 12) throw ValueError("piece 12");  // met first
          if (i == 10) {
            pause(20000);
            out += "half of 10;";
            throw KeyError("piece 10");
          }
        },
        [&](std::string& out) { all += out; });
  });
  EXPECT_EQ(failure, "KeyError: piece 10");
  EXPECT_EQ(all, "0;1;2;3;4;5;6;7;8;9;10;half of 10;");
}

TEST(RunInOrder, FailureOnAWorkerListsTheCallersOperations) {
  TLQ_OP("caller");
  try {
    runInOrder<std::string>(
        4, 2,
        [](size_t i, std::string&) {
          TLQ_OP("piece");
          if (i == 2) throw IndexError("no");
        },
        [](std::string&) {});
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    ASSERT_EQ(e.trace().size(), 2u);
    EXPECT_EQ(e.trace()[0].op, "caller");
    EXPECT_EQ(e.trace()[1].op, "piece");
    EXPECT_EQ(e.trace()[1].unit, "ordered_work_test.cpp");
  }
}

TEST(RunInOrder, FailureWhileTakingEndsTheWorkers) {
  std::atomic<int> done{0};
  std::string failure = testing::failureOf([&] {
    runInOrder<std::string>(
        1000, 3, [&](size_t, std::string& out) { out = "x", ++done; },
        [&](std::string&) {
          if (done > 5) throw IoError("cannot write string to file");
        });
  });
  EXPECT_EQ(failure, "IOError: cannot write string to file");
  EXPECT_LT(done.load(), 1000);
}

}  // namespace
}  // namespace tlq
