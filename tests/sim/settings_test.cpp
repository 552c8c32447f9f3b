// Values set are values read back, within the instrument's ranges; relative
// changes clamp at the ends.
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

using Setter = std::int32_t(SEM_CALL*)(std::int16_t);
using Getter = std::int32_t(SEM_CALL*)();

struct AbsoluteSetting {
  const char* name;
  Setter set;
  Getter get;
  std::int16_t lowest;
  std::int16_t highest;
};

// Instrument type 0.
constexpr AbsoluteSetting kAbsoluteSettings[] = {
    {"HT", sem_SetHT, sem_GetHT, 0, 1},
    {"AccvAbs", sem_SetAccvAbs, sem_GetAccv, 300, 30000},
    {"CLAbs", sem_SetCLAbs, sem_GetCL, 0, 4095},
    {"CLAbsEx", sem_SetCLAbsEx, sem_GetCL, 0, 9999},
    {"OLCrsAbs", sem_SetOLCrsAbs, sem_GetOLCrs, 0, 4095},
    {"OLFineAbs", sem_SetOLFineAbs, sem_GetOLFine, 0, 4095},
    {"StigXAbs", sem_SetStigXAbs, sem_GetStigX, 0, 4095},
    {"StigYAbs", sem_SetStigYAbs, sem_GetStigY, 0, 4095},
    {"GunAlinShiftXAbs", sem_SetGunAlinShiftXAbs, sem_GetGunAlinShiftX, 0, 255},
    {"GunAlinShiftYAbs", sem_SetGunAlinShiftYAbs, sem_GetGunAlinShiftY, 0, 255},
    {"GunAlinTiltXAbs", sem_SetGunAlinTiltXAbs, sem_GetGunAlinTiltX, 0, 255},
    {"GunAlinTiltYAbs", sem_SetGunAlinTiltYAbs, sem_GetGunAlinTiltY, 0, 255},
    {"BeamBlank", sem_SetBeamBlank, sem_GetBeamBlank, 0, 1},
    {"RrdAngleAbs", sem_SetRrdAngleAbs, sem_GetRrdAngle, -1800, 1800},
    {"FineShiftXAbs", sem_SetFineShiftXAbs, sem_GetFineShiftX, 0, 4095},
    {"FineShiftYAbs", sem_SetFineShiftYAbs, sem_GetFineShiftY, 0, 4095},
    {"Ims", sem_SetIms, sem_GetIms, 0, 4095},
    {"ScanSpeed", sem_SetScanSpeed, sem_GetScanSpeed, 0, 3},
    {"PressureAdjMode", sem_SetPressureAdjMode, sem_GetPressureAdjMode, 0, 1},
    {"PressureManual", sem_SetPressureManual, sem_GetPressureManual, -1, 1},
};

class SettingsTest : public SimTest {};

TEST_F(SettingsTest, EveryAbsoluteSettingReadsBackItsEndsAndRefusesBeyondThem) {
  for (const AbsoluteSetting& s : kAbsoluteSettings) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.set(s.lowest), 1);
    EXPECT_EQ(s.get(), s.lowest);
    EXPECT_EQ(s.set(s.highest), 1);
    EXPECT_EQ(s.get(), s.highest);
    EXPECT_EQ(s.set(static_cast<std::int16_t>(s.lowest - 1)), 0);
    EXPECT_EQ(s.set(static_cast<std::int16_t>(s.highest + 1)), 0);
    EXPECT_EQ(s.get(), s.highest) << "a refused value must leave the setting alone";
  }
}

TEST_F(SettingsTest, MagnificationRangeDependsOnTheInstrumentType) {
  EXPECT_EQ(sem_SetMagAbs(5), 1);
  EXPECT_EQ(sem_GetMag(), 5);
  EXPECT_EQ(sem_SetMagAbs(300000), 1);
  EXPECT_EQ(sem_GetMag(), 300000);
  EXPECT_EQ(sem_SetMagAbs(4), 0);
  EXPECT_EQ(sem_SetMagAbs(300001), 0);
  EXPECT_EQ(sem_GetMag(), 300000);
  EXPECT_EQ(sem_SetMagAbs(1234), 1);  // any value in range, not only the series
  EXPECT_EQ(sem_GetMag(), 1234);

  SimulatorOptions type12;
  type12.instrumentType = 12;
  Apply(type12);
  EXPECT_EQ(sem_SetMagAbs(7), 0);
  EXPECT_EQ(sem_SetMagAbs(8), 1);
  EXPECT_EQ(sem_SetAccvAbs(499), 0);
  EXPECT_EQ(sem_SetAccvAbs(500), 1);
  EXPECT_EQ(sem_SetAccvAbs(20001), 0);
  EXPECT_EQ(sem_SetAccvAbs(20000), 1);
}

TEST_F(SettingsTest, FineShiftIsCentredAndNarrowOnInstrumentTypeOne) {
  EXPECT_EQ(sem_GetFineShiftX(), 2048);
  SimulatorOptions type1;
  type1.instrumentType = 1;
  Apply(type1);
  EXPECT_EQ(sem_GetSemType(), 1);
  EXPECT_EQ(sem_GetFineShiftX(), 655);
  EXPECT_EQ(sem_GetFineShiftY(), 655);
  EXPECT_EQ(sem_SetFineShiftXAbs(1310), 1);
  EXPECT_EQ(sem_SetFineShiftXAbs(1311), 0);
  EXPECT_EQ(sem_GetFineShiftX(), 1310);
}

TEST_F(SettingsTest, MagnificationStepsFollowTheSeriesAndStopAtItsEnds) {
  ASSERT_EQ(sem_SetMagAbs(1000), 1);
  EXPECT_EQ(sem_SetMagRel(1), 1);
  EXPECT_EQ(sem_GetMag(), 1100);
  EXPECT_EQ(sem_SetMagRel(-3), 1);
  EXPECT_EQ(sem_GetMag(), 900);
  ASSERT_EQ(sem_SetMagAbs(1234), 1);  // between 1200 and 1300
  EXPECT_EQ(sem_SetMagRel(1), 1);
  EXPECT_EQ(sem_GetMag(), 1300);
  ASSERT_EQ(sem_SetMagAbs(1234), 1);
  EXPECT_EQ(sem_SetMagRel(-1), 1);
  EXPECT_EQ(sem_GetMag(), 1200);
  ASSERT_EQ(sem_SetMagAbs(270000), 1);
  EXPECT_EQ(sem_SetMagRel(100), 1);
  EXPECT_EQ(sem_GetMag(), 300000);
  EXPECT_EQ(sem_SetMagRel(1), 0);
  EXPECT_EQ(sem_GetMag(), 300000);
  EXPECT_EQ(sem_SetMagRel(0), 1);
}

struct RelativeSetting {
  const char* name;
  Setter step;
  Setter setAbsolute;
  Getter get;
  std::int32_t lowest;
  std::int32_t highest;
};

constexpr RelativeSetting kRelativeSettings[] = {
    {"StigXFineRel", sem_SetStigXFineRel, sem_SetStigXAbs, sem_GetStigX, 0, 4095},
    {"StigYFineRel", sem_SetStigYFineRel, sem_SetStigYAbs, sem_GetStigY, 0, 4095},
    {"OLCrsRel", sem_SetOLCrsRel, sem_SetOLCrsAbs, sem_GetOLCrs, 0, 4095},
};

TEST_F(SettingsTest, RelativeChangesClampAtTheEndsAndRefuseOnlyWhenStuck) {
  for (const RelativeSetting& s : kRelativeSettings) {
    SCOPED_TRACE(s.name);
    ASSERT_EQ(s.setAbsolute(static_cast<std::int16_t>(s.highest - 2)), 1);
    EXPECT_EQ(s.step(1), 1);
    EXPECT_EQ(s.get(), s.highest - 1);
    EXPECT_EQ(s.step(50), 1);
    EXPECT_EQ(s.get(), s.highest);
    EXPECT_EQ(s.step(1), 0);
    EXPECT_EQ(s.get(), s.highest);
    EXPECT_EQ(s.step(-30000), 1);
    EXPECT_EQ(s.get(), s.lowest);
    EXPECT_EQ(s.step(-1), 0);
    EXPECT_EQ(s.step(0), 1);
  }
}

TEST_F(SettingsTest, FineFocusCarriesIntoTheCoarseFocus) {
  ASSERT_EQ(sem_SetOLCrsAbs(10), 1);
  ASSERT_EQ(sem_SetOLFineAbs(4095), 1);
  EXPECT_EQ(sem_SetOLFineRel(1), 1);
  EXPECT_EQ(sem_GetOLCrs(), 11);
  EXPECT_EQ(sem_GetOLFine(), 0);
  EXPECT_EQ(sem_SetOLFineRel(-2), 1);
  EXPECT_EQ(sem_GetOLCrs(), 10);
  EXPECT_EQ(sem_GetOLFine(), 4094);
}

TEST_F(SettingsTest, WorkingDistanceIsWhereTheObjectiveFocuses) {
  EXPECT_EQ(sem_GetWD(), 100);  // 10 mm at power-on
  EXPECT_EQ(sem_SetWD(48), 1);
  EXPECT_EQ(sem_GetWD(), 480);
  EXPECT_EQ(sem_SetWD(5), 1);
  EXPECT_EQ(sem_GetWD(), 50);
  EXPECT_EQ(sem_SetWD(4), 0);
  EXPECT_EQ(sem_SetWD(49), 0);
  EXPECT_EQ(sem_GetWD(), 50);
  // A stronger objective focuses closer.
  ASSERT_EQ(sem_SetWD(20), 1);
  const std::int32_t coarse = sem_GetOLCrs();
  ASSERT_EQ(sem_SetOLCrsAbs(static_cast<std::int16_t>(coarse + 70)), 1);
  EXPECT_LT(sem_GetWD(), 200);
  EXPECT_EQ(sem_OLCLReset(), 1);
  EXPECT_EQ(sem_GetWD(), 100);
}

TEST_F(SettingsTest, DetectorItemsPersistEachOnItsOwn) {
  for (std::int16_t item = 0; item <= 14; ++item) {
    ASSERT_EQ(sem_SetDetector(item, static_cast<std::int16_t>(100 + item)), 1);
  }
  for (std::int16_t item = 0; item <= 14; ++item) EXPECT_EQ(sem_GetDetector(item), 100 + item);
  EXPECT_EQ(sem_GetCont(), 100);
  EXPECT_EQ(sem_GetBrt(), 101);
  EXPECT_EQ(sem_SetDetector(15, 1), 0);
  EXPECT_EQ(sem_SetDetector(-1, 1), 0);
  EXPECT_EQ(sem_SetDetector(3, 4096), 0);
  EXPECT_EQ(sem_SetDetector(3, -1), 0);
  EXPECT_EQ(sem_GetDetector(3), 103);
}

TEST_F(SettingsTest, ContrastAndBrightnessStepCoarselyAndFinely) {
  ASSERT_EQ(sem_SetDetector(0, 2000), 1);
  ASSERT_EQ(sem_SetDetector(1, 2000), 1);
  EXPECT_EQ(sem_SetContRel(2), 1);
  EXPECT_EQ(sem_GetCont(), 2000 + 2 * 64);
  EXPECT_EQ(sem_SetContFineRel(-3), 1);
  EXPECT_EQ(sem_GetCont(), 2000 + 2 * 64 - 12);
  EXPECT_EQ(sem_SetBrtRel(-1), 1);
  EXPECT_EQ(sem_GetBrt(), 2000 - 64);
  EXPECT_EQ(sem_SetBrtFineRel(1), 1);
  EXPECT_EQ(sem_GetBrt(), 2000 - 60);
  EXPECT_EQ(sem_SetBrtRel(1000), 1);
  EXPECT_EQ(sem_GetBrt(), 4095);
  EXPECT_EQ(sem_SetBrtFineRel(1), 0);
  EXPECT_EQ(sem_GetCont(), 2000 + 2 * 64 - 12) << "item 1 steps leave item 0 alone";
}

TEST_F(SettingsTest, RasterRotationIsOnForAnyAngleButZero) {
  EXPECT_EQ(sem_GetRrd(), 0);
  ASSERT_EQ(sem_SetRrdAngleAbs(-15), 1);
  EXPECT_EQ(sem_GetRrd(), 1);
  EXPECT_EQ(sem_GetRrdAngle(), -15);
  ASSERT_EQ(sem_SetRrdAngleAbs(0), 1);
  EXPECT_EQ(sem_GetRrd(), 0);
}

TEST_F(SettingsTest, MoveImageBringsThePointToTheCentreWithTheFineShift) {
  ASSERT_EQ(sem_SetMagAbs(10000), 1);  // a 12.8 um field: one frame is 2621 raw units wide
  ImageMoveRecord centre{640, 480, 320, 240};
  EXPECT_EQ(sem_MoveImage(0, &centre), 1);
  EXPECT_EQ(sem_GetFineShiftX(), 2048);
  EXPECT_EQ(sem_GetFineShiftY(), 2048);
  ImageMoveRecord right{640, 480, 480, 120};  // a quarter frame right, a quarter up
  EXPECT_EQ(sem_MoveImage(0, &right), 1);
  EXPECT_EQ(sem_GetFineShiftX(), 2048 + 655);
  EXPECT_EQ(sem_GetFineShiftY(), 2048 - 492);
  ImageMoveRecord far{640, 480, 640000, 0};
  EXPECT_EQ(sem_MoveImage(0, &far), 1);
  EXPECT_EQ(sem_GetFineShiftX(), 4095) << "clamped at the end of the range";
  ImageMoveRecord empty{0, 480, 1, 1};
  EXPECT_EQ(sem_MoveImage(0, &empty), 0);
  EXPECT_EQ(sem_MoveImage(1, &centre), 0);
  EXPECT_EQ(sem_MoveImage(0, nullptr), 0);
}

TEST_F(SettingsTest, RecipesNeedAPlausibleName) {
  EXPECT_EQ(sem_LoadRecipeFileEx("Steel_x1000.rcp", 0, 1, 1), 1);
  EXPECT_EQ(sem_LoadRecipeFileEx("C:\\SEM\\recipes\\tin balls.rcp", 0, 1, 1), 1);
  EXPECT_EQ(sem_LoadRecipeFileEx("", 0, 1, 1), 0);
  EXPECT_EQ(sem_LoadRecipeFileEx("   ", 0, 1, 1), 0);
  EXPECT_EQ(sem_LoadRecipeFileEx("bad\tname", 0, 1, 1), 0);
  EXPECT_EQ(sem_LoadRecipeFileEx("what?.rcp", 0, 1, 1), 0);
  EXPECT_EQ(sem_LoadRecipeFileEx(std::string(129, 'a').c_str(), 0, 1, 1), 0);
  EXPECT_EQ(sem_LoadRecipeFileEx(std::string(128, 'a').c_str(), 0, 1, 1), 1);
  EXPECT_EQ(sem_LoadRecipeFileEx(nullptr, 0, 1, 1), 0);
}

TEST_F(SettingsTest, FreezeAndPcdModes) {
  EXPECT_EQ(sem_SetFreezeEx(1, 1), 1);
  EXPECT_EQ(sem_GetFreezeMode(), 1);
  EXPECT_EQ(sem_SetFreezeEx(2, 1), 0);
  EXPECT_EQ(sem_GetFreezeMode(), 1);
  EXPECT_EQ(sem_CallApp(0, 144), 1);
  EXPECT_EQ(sem_GetFreezeMode(), 0);

  EXPECT_EQ(sem_GetPcdStatus(), 1);
  EXPECT_EQ(sem_SetPcdMode(1), 1);
  EXPECT_EQ(sem_GetPcdMode(), 1);
  EXPECT_EQ(sem_GetPcdStatus(), 2) << "the detector travels into the beam";
  EXPECT_EQ(sem_SetPcdMode(0), 0);
  Advance(1500);
  EXPECT_EQ(sem_GetPcdStatus(), 1);
  EXPECT_EQ(sem_SetPcdMode(2), 0);
  EXPECT_EQ(sem_SetPcdMode(0), 1);
}

}  // namespace
}  // namespace vesk::sim::testing
