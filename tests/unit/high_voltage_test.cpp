// High-voltage family: FVAS, FEBS, FXSR against the control-library double.
#include <cmath>
#include <cstring>

#include "commands/high_voltage.h"
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class HighVoltageTest : public DoubleTest {};

std::int64_t VoltsSetFor(float kilovolts) {
  scope_double::Reset();
  RequestBuffer request("FVAS");
  request.BodyFloat(0, kilovolts);
  request.Dispatch();
  std::vector<scope_double::Call> calls = scope_double::CallsTo(SemOp::SetAccvAbs);
  return calls.size() == 1 ? calls[0].args[0] : -1;
}

TEST_F(HighVoltageTest, VoltageStepsRunFromThirtyKilovoltsDownToThreeHundredVolts) {
  ASSERT_EQ(AcceleratingVoltageSteps.size(), 55u);
  EXPECT_EQ(AcceleratingVoltageSteps.front(), 30000);
  EXPECT_EQ(AcceleratingVoltageSteps[27], 3000);
  EXPECT_EQ(AcceleratingVoltageSteps[28], 2900);
  EXPECT_EQ(AcceleratingVoltageSteps.back(), 300);
  for (std::size_t i = 1; i < AcceleratingVoltageSteps.size(); ++i) {
    EXPECT_LT(AcceleratingVoltageSteps[i], AcceleratingVoltageSteps[i - 1]);
  }
}

TEST_F(HighVoltageTest, WorkedSnappingValues) {
  EXPECT_EQ(VoltsSetFor(15.0f), 15000);
  EXPECT_EQ(VoltsSetFor(3.4f), 3000);
  EXPECT_EQ(VoltsSetFor(3.5f), 4000);   // tie goes up
  EXPECT_EQ(VoltsSetFor(2.95f), 3000);  // tie goes up
  EXPECT_EQ(VoltsSetFor(0.35f), 400);   // tie goes up
  EXPECT_EQ(VoltsSetFor(0.25f), 300);   // clamped
  EXPECT_EQ(VoltsSetFor(35.0f), 30000); // clamped
  EXPECT_EQ(VoltsSetFor(1.0f), 1000);
  EXPECT_EQ(VoltsSetFor(-5.0f), 300);
  EXPECT_EQ(VoltsSetFor(std::nanf("")), 300);
  EXPECT_EQ(VoltsSetFor(30.0f), 30000);
  EXPECT_EQ(VoltsSetFor(29.6f), 30000);
  EXPECT_EQ(VoltsSetFor(29.4f), 29000);
}

TEST_F(HighVoltageTest, InstrumentTypeTwelveRefusesOutsideHalfToTwentyKilovolts) {
  auto onTypeTwelve = [](float kilovolts) {
    scope_double::Reset();
    SetResult(SemOp::GetSemType, 12);
    RequestBuffer request("FVAS");
    request.BodyFloat(0, kilovolts);
    request.Dispatch();
    return std::make_pair(request.status(), scope_double::CallsTo(SemOp::SetAccvAbs));
  };
  for (float refused : {25.0f, 0.4f, -5.0f, 20.001f, std::nanf("")}) {
    auto [status, calls] = onTypeTwelve(refused);
    EXPECT_EQ(status, -1) << refused;
    EXPECT_TRUE(calls.empty()) << refused;
  }
  for (auto [kilovolts, volts] : {std::pair{0.5f, 500}, std::pair{20.0f, 20000}}) {
    auto [status, calls] = onTypeTwelve(kilovolts);
    EXPECT_EQ(status, 54);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0], volts);
  }
}

TEST_F(HighVoltageTest, FvasSucceedsEvenWhenTheLibraryRejectsTheStep) {
  SetResult(SemOp::SetAccvAbs, 0);
  RequestBuffer request("FVAS", {0x3F, 0x80, 0x00, 0x00});
  request.Dispatch();
  EXPECT_EQ(request.status(), 54);
  EXPECT_EQ(request.length(), 70);
  EXPECT_TRUE(request.hasReplyMagic());
  EXPECT_EQ(ArgsOf(SemOp::SetAccvAbs), (std::vector<std::int64_t>{1000}));
}

TEST_F(HighVoltageTest, ReplyCarriesReadingsAtTheirOffsetsAndZerosElsewhere) {
  SetResult(SemOp::GetHT, 1);
  SetResult(SemOp::GetAccv, 15000);
  SetResult(SemOp::GetWD, 103);
  SetResult(SemOp::GetLoadCurrent, -7);
  RequestBuffer request("FXSR");
  std::memset(request.body(), 0xAA, 100);  // stale bytes from an earlier message
  request.SetLength(16);
  request.Dispatch();
  EXPECT_EQ(request.length(), 70);
  EXPECT_EQ(request.S16(2), 2);
  EXPECT_EQ(request.BodyBytes(4, 4), (std::vector<std::uint8_t>{0x41, 0x70, 0x00, 0x00}));
  EXPECT_EQ(request.Float(14), -7.0f);
  EXPECT_EQ(request.Float(34), 10.3f);
  for (std::size_t offset : {0, 1, 8, 9, 10, 11, 12, 13, 18, 25, 33, 38, 45, 53}) {
    EXPECT_EQ(request.bytes[16 + offset], 0) << offset;
  }
  EXPECT_EQ(request.bytes[16 + 54], 0xAA);  // nothing written past the reply
  EXPECT_EQ(scope_double::CallNames(),
            (std::vector<std::string>{"GetHT", "GetAccv", "GetWD", "GetLoadCurrent"}));
}

TEST_F(HighVoltageTest, HighVoltageStateFromHtAndVacuum) {
  struct Case {
    std::int32_t ht;
    std::int32_t vacuum;
    std::int16_t state;
    bool vacuumAsked;
  };
  for (Case c : {Case{1, 4, 2, false}, Case{0, 4, 1, true}, Case{0, 3, 0, true}, Case{3, 4, 3, false},
                 Case{-2, 4, -2, false}, Case{0x10000, 4, 1, true}}) {
    scope_double::Reset();
    SetResult(SemOp::GetHT, c.ht);
    SetResult(SemOp::GetVacuumStatus, c.vacuum);
    RequestBuffer request("FXSR");
    request.Dispatch();
    EXPECT_EQ(request.S16(2), c.state) << c.ht << "/" << c.vacuum;
    EXPECT_EQ(scope_double::CallCount(SemOp::GetVacuumStatus), c.vacuumAsked ? 1u : 0u);
  }
}

TEST_F(HighVoltageTest, FxsrLeavesTheRequestStatusBytes) {
  RequestBuffer request("FXSR", {}, 0x0007);
  request.Dispatch();
  EXPECT_EQ(request.length(), 70);
  EXPECT_EQ(request.bytes[10], 0x00);
  EXPECT_EQ(request.bytes[11], 0x07);
  EXPECT_TRUE(request.hasReplyMagic());
}

TEST_F(HighVoltageTest, FebsPassesTheValueAndReportsTheLibraryResult) {
  RequestBuffer on("FEBS");
  on.BodyS16(0, -3);
  on.Dispatch();
  EXPECT_EQ(ArgsOf(SemOp::SetHT), (std::vector<std::int64_t>{-3}));
  EXPECT_EQ(on.status(), 54);
  EXPECT_EQ(on.length(), 70);

  ScriptResults(SemOp::SetHT, {2});
  RequestBuffer refused("FEBS");
  refused.BodyS16(0, 1);
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
  EXPECT_EQ(refused.length(), 70);
  EXPECT_EQ(scope_double::CallCount(SemOp::GetHT), 2u);  // readings on both paths
}

}  // namespace
}  // namespace vesk::testing
