// Stage family.
#include <cstring>

#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class StageTest : public DoubleTest {};

TEST_F(StageTest, MovesPassTheRecordInHostOrderAndAnswerWithoutBody) {
  for (const char* code : {"WABS", "WRES"}) {
    scope_double::Reset();
    RequestBuffer request(code);
    for (std::size_t axis = 0; axis < 5; ++axis) {
      request.BodyU16(2 * axis, static_cast<std::uint16_t>(0x0102 + axis));
      request.BodyFloat(10 + 4 * axis, 1.0f + static_cast<float>(axis) * 0.5f);
    }
    request.Dispatch();
    EXPECT_EQ(request.status(), 0);
    EXPECT_EQ(request.length(), 16);
    const SemOp op = code[1] == 'A' ? SemOp::SetStagePosAbs : SemOp::SetStagePosRel;
    auto calls = scope_double::CallsTo(op);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].record.size(), sizeof(StagePositionRecord));
    StagePositionRecord record;
    std::memcpy(&record, calls[0].record.data(), sizeof record);
    for (int axis = 0; axis < 5; ++axis) {
      const std::uint16_t word = record.axisWord[axis];  // copies: the record is packed
      const float value = record.value[axis];
      EXPECT_EQ(word, 0x0102 + axis);
      EXPECT_EQ(value, 1.0f + static_cast<float>(axis) * 0.5f);
    }
  }
  SetResult(SemOp::SetStagePosRel, 0);
  RequestBuffer refused("WRES");
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
  EXPECT_EQ(refused.length(), 16);
}

TEST_F(StageTest, StopMakesTheSecondCallOnlyAfterTheFirstWasAccepted) {
  RequestBuffer both("WDSS");
  both.Dispatch();
  EXPECT_EQ(both.status(), 0);
  EXPECT_EQ(CallNames(), (Names{"StopStage", "StopStageR"}));

  scope_double::Reset();
  SetResult(SemOp::StopStage, 0);
  RequestBuffer first("WDSS");
  first.Dispatch();
  EXPECT_EQ(first.status(), -1);
  EXPECT_EQ(CallNames(), Names{"StopStage"});

  scope_double::Reset();
  SetResult(SemOp::StopStageR, 0);
  RequestBuffer second("WDSS");
  second.Dispatch();
  EXPECT_EQ(second.status(), -1);
  EXPECT_EQ(second.length(), 16);
}

StageInfoRecord SampleInfo() {
  StageInfoRecord info{};
  const std::uint16_t status[] = {0x0100, 0x0001, 0xFFFF, 0x0000, 0x0300};
  for (int axis = 0; axis < 5; ++axis) {
    info.axisStatus[axis] = status[axis];
    info.position[axis] = -10.0f + static_cast<float>(axis);
  }
  for (int i = 0; i < 10; ++i) info.stageValue[i] = 0.25f * static_cast<float>(i + 1);
  return info;
}

TEST_F(StageTest, InformationGivesAxisFlagsAndTheTenValues) {
  scope_double::SetStageInfo(SampleInfo());
  RequestBuffer request("WINR");
  request.Dispatch();
  EXPECT_EQ(request.status(), 50);
  EXPECT_EQ(request.length(), 66);
  const std::uint16_t flags[] = {1, 0, 1, 0, 1};
  for (std::size_t axis = 0; axis < 5; ++axis) EXPECT_EQ(request.U16(2 * axis), flags[axis]) << axis;
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(request.Float(10 + 4 * i), 0.25f * static_cast<float>(i + 1));
}

TEST_F(StageTest, StatusGivesMovingOnlyForOneAndTheFivePositions) {
  scope_double::SetStageInfo(SampleInfo());
  for (auto [library, wire] : {std::pair{1, 2}, std::pair{0, 0}, std::pair{2, 0}, std::pair{-1, 0}}) {
    SetResult(SemOp::GetStageMoveStatus, library);
    RequestBuffer request("WSTR");
    request.Dispatch();
    EXPECT_EQ(request.status(), 22);
    EXPECT_EQ(request.length(), 38);
    EXPECT_EQ(request.S16(0), wire) << library;
    for (std::size_t axis = 0; axis < 5; ++axis) {
      EXPECT_EQ(request.Float(2 + 4 * axis), -10.0f + static_cast<float>(axis));
    }
  }
}

}  // namespace
}  // namespace vesk::testing
