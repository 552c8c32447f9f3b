// The stage's five axes move at finite speed within their limits.
#include <cmath>

#include "sim/stage.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

StagePositionRecord Move(std::initializer_list<std::pair<int, float>> axes) {
  StagePositionRecord record{};
  for (const auto& [axis, value] : axes) {
    record.axisWord[axis] = 1;
    record.value[axis] = value;
  }
  return record;
}

StageInfoRecord Info() {
  StageInfoRecord info{};
  EXPECT_EQ(sem_GetStageInfo(&info), 1);
  return info;
}

float Position(int axis) { return Info().position[axis]; }

class StageTest : public SimTest {};

TEST_F(StageTest, AnAbsoluteMoveTakesTimeAndReportsItself) {
  StagePositionRecord target = Move({{kAxisX, 10.0f}, {kAxisY, -2.0f}});
  ASSERT_EQ(sem_SetStagePosAbs(&target), 1);
  EXPECT_EQ(sem_GetStageMoveStatus(), 1);
  Advance(1000);  // X and Y travel at 4 mm/s
  StageInfoRecord info = Info();
  EXPECT_FLOAT_EQ(info.position[kAxisX], 4.0f);
  EXPECT_FLOAT_EQ(info.position[kAxisY], -2.0f);
  EXPECT_EQ(info.axisStatus[kAxisX] & kAxisFlagMask, kAxisFlagMask) << "bit 8: moving";
  EXPECT_EQ(info.axisStatus[kAxisY] & kAxisFlagMask, 0);
  EXPECT_EQ(info.axisStatus[kAxisZ] & kAxisEnabled, kAxisEnabled);
  EXPECT_FLOAT_EQ(info.stageValue[kAxisX], 10.0f) << "values 0-4: targets";
  EXPECT_FLOAT_EQ(info.stageValue[5 + kAxisX], 4.0f) << "values 5-9: speeds";
  EXPECT_FLOAT_EQ(info.stageValue[5 + kAxisY], 0.0f);
  Advance(1500);
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);
  info = Info();
  EXPECT_FLOAT_EQ(info.position[kAxisX], 10.0f);
  EXPECT_EQ(info.axisStatus[kAxisX] & kAxisFlagMask, 0);
  EXPECT_FLOAT_EQ(info.position[kAxisZ], 10.0f) << "an axis without its word stays";
}

TEST_F(StageTest, StopHaltsWhereTheStageIsAndStopRHaltsTheRotation) {
  StagePositionRecord target = Move({{kAxisX, 20.0f}, {kAxisRotation, 90.0f}});
  ASSERT_EQ(sem_SetStagePosAbs(&target), 1);
  Advance(500);
  EXPECT_EQ(sem_StopStage(), 1);
  Advance(5000);
  EXPECT_FLOAT_EQ(Position(kAxisX), 2.0f);
  EXPECT_EQ(sem_GetStageMoveStatus(), 1) << "rotation still turns";
  EXPECT_FLOAT_EQ(Position(kAxisRotation), 55.0f);  // 10 degrees/s
  EXPECT_EQ(sem_StopStageR(), 1);
  Advance(1000);
  EXPECT_FLOAT_EQ(Position(kAxisRotation), 55.0f);
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);
}

TEST_F(StageTest, MovesBeyondTheLimitsAreRefusedWhole) {
  struct Case {
    int axis;
    float value;
  };
  const Case kOutside[] = {{kAxisX, 40.5f}, {kAxisY, -41.0f}, {kAxisZ, 4.9f}, {kAxisZ, 48.1f},
                               {kAxisTilt, -10.5f}, {kAxisTilt, 90.5f}, {kAxisRotation, 361.0f},
                               {kAxisX, std::nanf("")}};
  for (const Case& c : kOutside) {
    StagePositionRecord target = Move({{kAxisY, 5.0f}, {c.axis, c.value}});
    EXPECT_EQ(sem_SetStagePosAbs(&target), 0) << "axis " << c.axis << " to " << c.value;
  }
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);
  StagePositionRecord edge = Move({{kAxisX, 40.0f}, {kAxisZ, 48.0f}, {kAxisTilt, 90.0f}});
  EXPECT_EQ(sem_SetStagePosAbs(&edge), 1);
  Advance(60000);
  const StageInfoRecord info = Info();
  EXPECT_EQ(info.axisStatus[kAxisX] & kAxisAtUpperLimit, kAxisAtUpperLimit);
  StagePositionRecord further = Move({{kAxisX, 0.1f}});
  EXPECT_EQ(sem_SetStagePosRel(&further), 0);
  EXPECT_EQ(sem_SetStagePosAbs(nullptr), 0);
}

TEST_F(StageTest, RelativeMovesAddUpAndTheRotationTurnsOn) {
  StagePositionRecord step = Move({{kAxisY, 1.5f}, {kAxisTilt, 30.0f}});
  ASSERT_EQ(sem_SetStagePosRel(&step), 1);
  Advance(5000);  // tilt turns 3 degrees/s: halfway
  ASSERT_EQ(sem_SetStagePosRel(&step), 1);  // from where the axes stand now
  Advance(30000);
  EXPECT_FLOAT_EQ(Position(kAxisY), 3.0f);
  EXPECT_FLOAT_EQ(Position(kAxisTilt), 45.0f);

  StagePositionRecord to350 = Move({{kAxisRotation, 350.0f}});
  ASSERT_EQ(sem_SetStagePosAbs(&to350), 1);
  Advance(40000);
  StagePositionRecord turn = Move({{kAxisRotation, 30.0f}});
  ASSERT_EQ(sem_SetStagePosRel(&turn), 1);
  Advance(500);
  EXPECT_NEAR(Position(kAxisRotation), 355.0f, 1e-3);
  Advance(2500);
  EXPECT_NEAR(Position(kAxisRotation), 20.0f, 1e-3);
}

TEST_F(StageTest, TheJoystickDrivesXAndYUntilReleased) {
  ASSERT_EQ(sem_StgJoystick(50, -100, 100), 1);
  Advance(1000);
  EXPECT_FLOAT_EQ(Position(kAxisX), 2.0f);
  EXPECT_FLOAT_EQ(Position(kAxisY), -4.0f);
  ASSERT_EQ(sem_StgJoystick(0, 0, 0), 1);
  Advance(1000);
  EXPECT_FLOAT_EQ(Position(kAxisX), 2.0f);
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);
  EXPECT_EQ(sem_StgJoystick(101, 0, 50), 0);
  EXPECT_EQ(sem_StgJoystick(0, 0, -1), 0);
}

TEST_F(StageTest, TheTimeScaleShortensMotions) {
  SimulatorOptions faster = Options();
  faster.timeScale = 0.5;
  Apply(faster);
  StagePositionRecord target = Move({{kAxisX, 4.0f}});
  ASSERT_EQ(sem_SetStagePosAbs(&target), 1);
  Advance(499);
  EXPECT_EQ(sem_GetStageMoveStatus(), 1);
  Advance(1);
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);

  SimulatorOptions instant = Options();
  instant.timeScale = 0.0;
  Apply(instant);
  ASSERT_EQ(sem_SetStagePosAbs(&target), 1);
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);
  EXPECT_FLOAT_EQ(Position(kAxisX), 4.0f);
}

}  // namespace
}  // namespace vesk::sim::testing
