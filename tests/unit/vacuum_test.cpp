// Vacuum and pressure family.
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class VacuumTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    SetResult(SemOp::GetVacuumMode, 1);
    SetResult(SemOp::GetPressureManual, 2);
    SetResult(SemOp::GetOrificeDiam, 3);
    SetResult(SemOp::GetPressureAdjMode, 4);
    SetResult(SemOp::GetArrivalPressure, 0x10005);
  }
  static void ExpectRecord(const RequestBuffer& reply) {
    EXPECT_EQ(reply.status(), 10);
    EXPECT_EQ(reply.length(), 26);
    const std::uint16_t expected[] = {1, 2, 3, 4, 5};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(reply.U16(2 * i), expected[i]);
  }
  static const Names& Readings() {
    static const Names names = {"GetVacuumMode", "GetPressureManual", "GetOrificeDiam", "GetPressureAdjMode",
                                "GetArrivalPressure"};
    return names;
  }
  static Names Then(Names first, const Names& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
  }
};

TEST_F(VacuumTest, StatusAndModeChange) {
  RequestBuffer status("FLVR");
  status.Dispatch();
  ExpectRecord(status);
  EXPECT_EQ(CallNames(), Readings());

  scope_double::ClearJournal();
  RequestBuffer mode("FVMS", {0x00, 0x02});
  mode.Dispatch();
  ExpectRecord(mode);
  EXPECT_EQ(ArgsOf(SemOp::SetVacuumMode), (Args{2}));

  SetResult(SemOp::SetVacuumMode, 0);
  RequestBuffer refused("FVMS", {0x00, 0x09, 0xAB, 0xCD});
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
  EXPECT_EQ(refused.length(), 26);
  EXPECT_EQ(refused.U16(2), 0xABCD);  // no readings on failure
}

TEST_F(VacuumTest, ManualPressureAcceptsMinusOneToOneAfterSwitchingToManual) {
  for (std::int16_t value : {std::int16_t{2}, std::int16_t{-2}, std::int16_t{100}}) {
    scope_double::ClearJournal();
    RequestBuffer request("FPMS");
    request.BodyS16(0, value);
    request.Dispatch();
    EXPECT_EQ(request.status(), -1);
    EXPECT_TRUE(scope_double::Journal().empty());
  }
  for (std::int16_t value : {std::int16_t{-1}, std::int16_t{0}, std::int16_t{1}}) {
    scope_double::ClearJournal();
    const std::uint32_t start = FakeWaitClock::Now();
    RequestBuffer request("FPMS");
    request.BodyS16(0, value);
    request.Dispatch();
    ExpectRecord(request);
    EXPECT_EQ(CallNames(), Then({"SetPressureAdjMode", "SetPressureManual"}, Readings()));
    EXPECT_EQ(ArgsOf(SemOp::SetPressureAdjMode), (Args{0}));
    EXPECT_GE(FakeWaitClock::Now() - start, 100u);
  }
}

TEST_F(VacuumTest, AutomaticPressureRangeDependsOnTheInstrumentType) {
  auto run = [](std::int32_t type, std::int16_t target) {
    scope_double::ClearJournal();
    SetResult(SemOp::GetSemType, type);
    RequestBuffer request("FPAS");
    request.BodyS16(0, target);
    request.Dispatch();
    return request.status();
  };
  EXPECT_EQ(run(0, 0), -1);
  EXPECT_EQ(CallNames(), Names{"GetSemType"});
  EXPECT_EQ(run(0, 1), 10);
  EXPECT_EQ(run(0, 270), 10);
  EXPECT_EQ(run(0, 271), -1);
  EXPECT_EQ(run(12, 100), 10);
  EXPECT_EQ(run(12, 101), -1);
  EXPECT_EQ(run(12, 0), -1);
  EXPECT_EQ(run(0, 150), 10);
  EXPECT_EQ(CallNames(), Then({"GetSemType", "SetPressureAdjMode", "SetPressureAuto", "StartSearch"}, Readings()));
  EXPECT_EQ(ArgsOf(SemOp::SetPressureAdjMode), (Args{1}));
  EXPECT_EQ(ArgsOf(SemOp::SetPressureAuto), (Args{150}));
}

TEST_F(VacuumTest, AutomaticPressureStopsAtTheFirstRefusal) {
  SetResult(SemOp::SetPressureAuto, 0);
  RequestBuffer target("FPAS", {0x00, 0x32});
  target.Dispatch();
  EXPECT_EQ(target.status(), -1);
  EXPECT_EQ(target.length(), 26);
  EXPECT_EQ(CallNames(), (Names{"GetSemType", "SetPressureAdjMode", "SetPressureAuto"}));

  SetResult(SemOp::SetPressureAuto, 1);
  SetResult(SemOp::StartSearch, 0);
  scope_double::ClearJournal();
  RequestBuffer search("FPAS", {0x00, 0x32});
  search.Dispatch();
  EXPECT_EQ(search.status(), -1);
  EXPECT_EQ(scope_double::CallCount(SemOp::GetVacuumMode), 0u);
}

// The settling pauses sleep: on a clock that only sleeping moves, they end.
TEST_F(VacuumTest, SettlingPausesSleep) {
  FakeWaitClock::Install(0, 16);
  RequestBuffer search("FPAS", {0x00, 0x32});
  search.Dispatch();
  EXPECT_EQ(search.status(), 10);
  RequestBuffer manual("FPMS", {0x00, 0x01});
  manual.Dispatch();
  EXPECT_EQ(manual.status(), 10);
  EXPECT_EQ(FakeWaitClock::Sleeps(), (std::vector<std::uint32_t>{100, 100, 100}));
}

}  // namespace
}  // namespace vesk::testing
