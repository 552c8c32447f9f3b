// Automatic focus and stigmation: EFAS and ESAS start, poll and report.
#include <algorithm>

#include "tests/support/scripted_request.h"

namespace vesk::testing {
namespace {

class AutoFocusTest : public DoubleTest {};

constexpr std::tuple<const char*, SemOp, SemOp> kAdjustments[] = {{"EFAS", SemOp::StartAFD, SemOp::GetAFD},
                                                                  {"ESAS", SemOp::StartASD, SemOp::GetASD}};

TEST_F(AutoFocusTest, PollsOnceASecondUntilTheLibraryReportsTheEnd) {
  for (auto [code, start, state] : kAdjustments) {
    // The first state query, then one per poll; only a running first state waits.
    using Polls = std::pair<std::vector<std::int32_t>, std::size_t>;
    const std::vector<std::int32_t> neverEnds(40, 1);
    for (auto [states, polls] :
         {Polls{{1, 1, 1, 0}, 3}, {{1, 5, 0}, 2}, {neverEnds, 20}, {{0}, 0}, {{3}, 0}}) {
      FakeWaitClock::Install();
      scope_double::Reset();
      scope_double::ScriptResults(state, states);
      scope_double::SetResult(SemOp::GetWD, 50);
      RequestBuffer reply(code);
      reply.Dispatch();
      EXPECT_EQ(reply.status(), 24) << code << " " << polls;
      EXPECT_EQ(reply.length(), 40);
      EXPECT_EQ(scope_double::CallCount(state), polls + 1) << code;
      EXPECT_EQ(FakeWaitClock::Sleeps(), std::vector<std::uint32_t>(polls, 1000)) << code;
      EXPECT_EQ(FakeWaitClock::TotalSleptMs(), 1000 * polls);
      EXPECT_EQ(reply.Float(6), 5.0f) << code;  // readings written, also without a wait
    }
  }
}

TEST_F(AutoFocusTest, RefusedStartNeitherWaitsNorWritesTheBody) {
  for (auto [code, start, state] : kAdjustments) {
    for (std::int32_t result : {0, 2}) {
      scope_double::Reset();
      scope_double::SetResult(start, result);
      RequestBuffer reply(code);
      std::fill_n(reply.body(), 24, 0xFF);  // what an earlier message left
      reply.Dispatch();
      EXPECT_EQ(reply.status(), -1) << code;
      EXPECT_EQ(reply.length(), 40);
      EXPECT_TRUE(reply.hasReplyMagic());
      EXPECT_EQ(reply.BodyBytes(0, 24), std::vector<std::uint8_t>(24, 0xFF)) << code;
      EXPECT_EQ(scope_double::CallNames(), (std::vector<std::string>{SemOpName(start)}));
      EXPECT_TRUE(FakeWaitClock::Sleeps().empty());
    }
  }
}

TEST_F(AutoFocusTest, ReplyCarriesTheValuesTheAdjustmentLeft) {
  const RequestBuffer reply =
      RunScripted("EFAS", {{SemOp::GetOLCrs, 2}, {SemOp::GetOLFine, 3}, {SemOp::GetWD, 103},
                           {SemOp::GetStigX, 0}, {SemOp::GetStigY, 4095}, {SemOp::GetIms, 0xFFFF},
                           {SemOp::GetCont, -1}, {SemOp::GetBrt, 0x12345}});
  EXPECT_EQ(reply.U16(0), 0);
  EXPECT_EQ(reply.S32(2), 8195);
  EXPECT_EQ(reply.Float(6), 10.3f);
  EXPECT_EQ((std::vector<int>{reply.S16(10), reply.S16(12), reply.U16(14)}),
            (std::vector<int>{-2048, 2047, 0xFFFF}));
  EXPECT_EQ(reply.BodyBytes(16, 4), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(reply.S32(20), 0x2345);  // low 16 bits only
  EXPECT_EQ(scope_double::CallNames(),
            (std::vector<std::string>{"StartAFD", "GetAFD", "GetOLCrs", "GetOLFine", "GetWD", "GetStigX",
                                      "GetStigY", "GetIms", "GetCont", "GetBrt"}));
  // Here the lens readings enter the combined value signed.
  EXPECT_EQ(RunScripted("ESAS", {{SemOp::GetOLCrs, 0xFFFF}}).S32(2), -4096);
}

}  // namespace
}  // namespace vesk::testing
