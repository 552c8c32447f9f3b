// High voltage and its vacuum interlock; vacuum modes, faults and pressure.
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

constexpr std::int32_t kReady = 4;

class VacuumTest : public SimTest {};

TEST_F(VacuumTest, HighVoltageDrawsLoadCurrentThatGrowsWithTheVoltage) {
  EXPECT_EQ(sem_GetVacuumStatus(), kReady);
  EXPECT_EQ(sem_GetHT(), 0);
  EXPECT_EQ(sem_GetLoadCurrent(), 0);
  BeamOn();
  EXPECT_EQ(sem_GetHT(), 1);
  const std::int32_t at15kV = sem_GetLoadCurrent();
  ASSERT_EQ(sem_SetAccvAbs(30000), 1);
  EXPECT_GT(sem_GetLoadCurrent(), at15kV);
  EXPECT_GT(at15kV, 0);
  ASSERT_EQ(sem_SetHT(0), 1);
  EXPECT_EQ(sem_GetLoadCurrent(), 0);
}

TEST_F(VacuumTest, HighVoltageIsRefusedUntilTheVacuumIsReady) {
  ASSERT_EQ(sem_SetVacuumMode(2), 1);  // vent
  EXPECT_EQ(sem_GetVacuumStatus(), 1);
  Advance(8000);
  EXPECT_EQ(sem_GetVacuumStatus(), 0);
  EXPECT_EQ(sem_SetHT(1), 0);
  EXPECT_EQ(sem_GetHT(), 0);

  ASSERT_EQ(sem_SetVacuumMode(0), 1);  // pump down to high vacuum
  EXPECT_EQ(sem_SetVacuumMode(1), 0) << "no new mode while the pumps work";
  EXPECT_EQ(sem_GetVacuumStatus(), 2);
  Advance(12000);
  EXPECT_EQ(sem_GetVacuumStatus(), 3);
  EXPECT_EQ(sem_SetHT(1), 0);
  Advance(6000);
  EXPECT_EQ(sem_GetVacuumStatus(), kReady);
  EXPECT_EQ(sem_SetHT(1), 1);
}

TEST_F(VacuumTest, LeavingTheReadyStateTripsTheHighVoltage) {
  BeamOn();
  ASSERT_EQ(sem_SetVacuumMode(1), 1);  // to low vacuum
  EXPECT_EQ(sem_GetHT(), 0);
  Advance(5000);
  EXPECT_EQ(sem_GetVacuumStatus(), kReady);
  BeamOn();

  InjectFault(Fault::kVacuumLoss);
  EXPECT_EQ(sem_GetHT(), 0);
  EXPECT_EQ(sem_GetVacuumStatus(), 2);
  Advance(18000);
  EXPECT_EQ(sem_GetVacuumStatus(), kReady);
  EXPECT_EQ(sem_GetVacuumMode(), 1) << "the pumps restore the mode that was set";

  BeamOn();
  InjectFault(Fault::kHighVoltageTrip);
  EXPECT_EQ(sem_GetHT(), 0);
  EXPECT_EQ(sem_GetVacuumStatus(), kReady);
}

TEST_F(VacuumTest, APinnedVacuumStatusActsOnTheInterlock) {
  BeamOn();
  ASSERT_TRUE(PinResult("GetVacuumStatus=1"));
  EXPECT_EQ(sem_GetVacuumStatus(), 1);
  EXPECT_EQ(sem_GetHT(), 0) << "the high voltage trips on the reported vacuum";
  EXPECT_EQ(sem_SetHT(1), 0);
  ClearOverrides();
  EXPECT_EQ(sem_SetHT(1), 1);
}

TEST_F(VacuumTest, LowVacuumPressureFollowsTheTargetAtAFiniteRate) {
  EXPECT_EQ(sem_GetArrivalPressure(), 0) << "high vacuum is below the gauge";
  EXPECT_EQ(sem_StartSearch(), 0) << "no pressure search in high vacuum";
  ASSERT_EQ(sem_SetVacuumMode(1), 1);
  Advance(5000);
  EXPECT_EQ(sem_GetArrivalPressure(), 50);
  EXPECT_EQ(sem_GetOrificeDiam(), 500);

  ASSERT_EQ(sem_SetPressureAdjMode(1), 1);
  EXPECT_EQ(sem_SetPressureAuto(271), 0);
  EXPECT_EQ(sem_SetPressureAuto(0), 0);
  ASSERT_EQ(sem_SetPressureAuto(150), 1);
  ASSERT_EQ(sem_StartSearch(), 1);
  Advance(1000);
  EXPECT_EQ(sem_GetArrivalPressure(), 90);
  Advance(1500);
  EXPECT_EQ(sem_GetArrivalPressure(), 150);

  ASSERT_EQ(sem_SetPressureAdjMode(0), 1);
  EXPECT_EQ(sem_StartSearch(), 0) << "the search is automatic adjustment only";
  ASSERT_EQ(sem_SetPressureManual(1), 1);
  EXPECT_EQ(sem_GetPressureManual(), 1);
  Advance(250);
  EXPECT_EQ(sem_GetArrivalPressure(), 160);
  ASSERT_EQ(sem_SetPressureManual(-1), 1);
  ASSERT_EQ(sem_SetPressureManual(-1), 1);
  Advance(1000);
  EXPECT_EQ(sem_GetArrivalPressure(), 140);
}

TEST_F(VacuumTest, TypeTwelveSearchesOnlyUpToAHundredPascal) {
  SimulatorOptions type12;
  type12.instrumentType = 12;
  Apply(type12);
  EXPECT_EQ(sem_SetPressureAuto(101), 0);
  EXPECT_EQ(sem_SetPressureAuto(100), 1);
}

}  // namespace
}  // namespace vesk::sim::testing
