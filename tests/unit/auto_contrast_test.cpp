// Automatic contrast and brightness.
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

// Item n reads back as 100 + n.
class AutoContrastTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    SetHook(SemOp::GetDetector, [](const scope_double::Call& c) { return static_cast<std::int32_t>(100 + c.args[0]); });
  }
};

TEST_F(AutoContrastTest, WaitsUntilTheRunEndsThenReadsEveryItem) {
  scope_double::ScriptResults(SemOp::GetACB, {1, 1, 1, 0});
  RequestBuffer request("DACS", {0xEE, 0xEE});
  request.Dispatch();
  EXPECT_EQ(request.status(), 32);
  EXPECT_EQ(request.length(), 48);
  EXPECT_EQ(FakeWaitClock::Sleeps(), (std::vector<std::uint32_t>{1000, 1000, 1000}));
  EXPECT_EQ(request.U16(0), 0);
  for (std::size_t item = 0; item < 15; ++item) EXPECT_EQ(request.U16(2 + 2 * item), 100 + item);
}

TEST_F(AutoContrastTest, GivesUpAfterTwentyPolls) {
  SetResult(SemOp::GetACB, 2);  // anything but 0 keeps the wait going...
  scope_double::ScriptResults(SemOp::GetACB, {1});  // ...once the first check said 1
  RequestBuffer request("DACS");
  request.Dispatch();
  EXPECT_EQ(request.status(), 32);
  EXPECT_EQ(FakeWaitClock::TotalSleptMs(), 20000u);
  EXPECT_EQ(scope_double::CallCount(SemOp::GetACB), 21u);
  EXPECT_EQ(scope_double::CallCount(SemOp::GetDetector), 15u);
}

TEST_F(AutoContrastTest, RefusedStartNeitherWaitsNorReads) {
  SetResult(SemOp::StartACB, 0);
  RequestBuffer request("DACS", {0xEE, 0xEE});
  request.Dispatch();
  EXPECT_EQ(request.status(), -1);
  EXPECT_EQ(request.length(), 48);
  EXPECT_EQ(CallNames(), Names{"StartACB"});
  EXPECT_EQ(request.U16(0), 0xEEEE);  // the body is not written
}

TEST_F(AutoContrastTest, RunNotReportedRunningIsNotWaitedForButReportsReadings) {
  SetResult(SemOp::GetACB, 0);
  RequestBuffer request("DACS", {0xEE, 0xEE});
  request.Dispatch();
  EXPECT_EQ(request.status(), 32);
  EXPECT_TRUE(FakeWaitClock::Sleeps().empty());
  EXPECT_EQ(request.U16(0), 0);
  EXPECT_EQ(request.U16(2 + 2 * 14), 114);
}

}  // namespace
}  // namespace vesk::testing
