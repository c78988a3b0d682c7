#include "error.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "test_support.h"

namespace tlq {
namespace {

Error raiseInside(const char* unit, int line, const char* op) {
  TraceFrame outer("tlqconverter.cpp", 40, "main");
  TraceFrame inner(unit, line, op);
  return ValueError("boom");
}

TEST(Trace, LocationIsPaddedToColumn26) {
  Error e = raiseInside("csv.cpp", 7, "makeLine");
  EXPECT_EQ(traceText(e),
            "tlqconverter.cpp(40)     main\n"
            "csv.cpp(7)               makeLine\n");
}

TEST(Trace, LongLocationGetsOneSpace) {
  Error e = raiseInside("a_unit_name_of_twenty.cpp", 123, "op");  // 30 characters with the line
  EXPECT_EQ(traceText(e).substr(traceText(e).find('\n') + 1), "a_unit_name_of_twenty.cpp(123) op\n");
  Error exact = raiseInside("exactly_twenty_five_c.cpp", 0, "op");  // 25 characters, no line
  EXPECT_EQ(traceText(exact).substr(traceText(exact).find('\n') + 1), "exactly_twenty_five_c.cpp op\n");
  Error almost = raiseInside("twenty_four_characters.x", 0, "op");  // 24: one space reaches column 26
  EXPECT_EQ(traceText(almost).substr(traceText(almost).find('\n') + 1), "twenty_four_characters.x op\n");
}

TEST(Trace, LineZeroOrLessIsLeftOut) {
  Error e = raiseInside("unit.cpp", -3, "op");
  EXPECT_EQ(traceText(e).substr(traceText(e).find('\n') + 1), "unit.cpp                 op\n");
}

TEST(Trace, RaiseLineReplacesTheRaisingFramesLine) {
  TLQ_OP("outerOp");
  int line = __LINE__ + 1;
  ValueError e("x");
  ASSERT_EQ(e.trace().size(), 1u);
  EXPECT_EQ(e.trace()[0].unit, "error_test.cpp");
  EXPECT_EQ(e.trace()[0].line, line);
  EXPECT_EQ(e.trace()[0].op, "outerOp");
}

TEST(Trace, FramesEndWithTheirScope) {
  { TLQ_OP("gone"); }
  ValueError e("x");
  EXPECT_TRUE(e.trace().empty());
  EXPECT_EQ(traceText(e), "");
}

TEST(Trace, ReraiseAddsMarkedSection) {
  TraceFrame main("tlqconverter.cpp", 10, "main");
  Error e = [] {
    TraceFrame f("convert.cpp", 20, "mainConvert");
    return Error(IoError("cannot open: x"));
  }();
  {
    TraceFrame handler("report.cpp", 30, "handle");
    e.markReraised();
  }
  EXPECT_EQ(formatTrace(e),
            "tlqconverter.cpp(10)     main\r\n"
            "convert.cpp(20)          mainConvert\r\n"
            "[[reraised from:\r\n"
            "tlqconverter.cpp(10)     main\r\n"
            "report.cpp(30)           handle\r\n"
            "]]\r\n");
}

// A failure of the C++ library takes the trace of where it arose: the frames
// active where it is caught, then those it closed on its way, each with the
// line of the call active in it.
void innermost(int depth) {
  TLQ_OP("innermost");
  if (depth == 0) TLQ_AT(throw std::runtime_error("vector::_M_range_check"));  // <raise>
  TLQ_AT(innermost(depth - 1));                                                // <recurse>
}

void allocates() {
  TLQ_OP("allocates");
  TLQ_AT(throw std::bad_alloc());
}

TEST(LibraryFailures, TakeTheTraceOfWhereTheyArose) {
  TLQ_OP("catcher");
  int callLine = __LINE__ + 2;
  try {
    TLQ_AT(innermost(2));
  } catch (const std::exception& e) {
    Error failure = libraryFailure(e);
    EXPECT_EQ(failure.kindName(), "Exception");
    EXPECT_EQ(failure.message(), "vector::_M_range_check");
    // (the markers are split here, so that this line does not hold them)
    std::string calls = testing::entryAt("error_test.cpp", std::string("<re") + "curse>", "innermost");
    EXPECT_EQ(testing::traceEntries(traceText(failure)),
              (std::vector<std::string>{"error_test.cpp(" + std::to_string(callLine) + ") catcher", calls, calls,
                                        testing::entryAt("error_test.cpp", std::string("<ra") + "ise>", "innermost")}));
  }
  try {
    allocates();
  } catch (const std::exception& e) {
    Error failure = libraryFailure(e);
    EXPECT_EQ(failure.kindName(), "OutOfMemoryError");
    EXPECT_EQ(failure.message(), "out of memory");
    ASSERT_EQ(failure.trace().size(), 2u);
    EXPECT_EQ(failure.trace()[1].op, "allocates");
  }
}

TEST(LibraryFailures, FramesOfAHandledFailureAreForgotten) {
  TLQ_OP("catcher");
  try {
    innermost(3);
  } catch (const std::exception&) {
    TraceFrame::forgetUnwound();  // handled: the program goes on
  }
  try {
    TLQ_AT(throw std::logic_error("later"));
  } catch (const std::exception& e) {
    ASSERT_EQ(libraryFailure(e).trace().size(), 1u);  // none of the frames closed before
  }
}

TEST(Errors, CarryKindAndExactMessage) {
  try {
    throw KeyError("key not found: data");
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::key);
    EXPECT_EQ(e.kindName(), "KeyError");
    EXPECT_EQ(e.message(), "key not found: data");
    EXPECT_STREQ(e.what(), "key not found: data");
  }
  EXPECT_EQ(IoError("m").kindName(), "IOError");
  EXPECT_EQ(FieldError("m").kindName(), "FieldError");
  EXPECT_EQ(JsonParseError("m").kindName(), "JsonParseError");
}

TEST(Errors, TypedCatchSelectsTheKind) {
  auto raise = [] { throw IoError("io"); };
  EXPECT_THROW(raise(), IoError);
  bool caughtAsValue = false;
  try {
    raise();
  } catch (const ValueError&) {
    caughtAsValue = true;
  } catch (const Error&) {
  }
  EXPECT_FALSE(caughtAsValue);
}

}  // namespace
}  // namespace tlq
