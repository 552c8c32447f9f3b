// Automatic focus, stigmation, contrast/brightness and gun alignment: they
// take time, read 1 while running and 0 after, and leave better values.
#include <cmath>
#include <cstdlib>

#include "sim/instrument.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

using Operation = std::int32_t(SEM_CALL*)();

struct AutoRunCase {
  const char* name;
  Operation start;
  Operation status;
  std::int64_t durationMs;
  std::int32_t autoMode;
};

constexpr AutoRunCase kRuns[] = {
    {"focus", sem_StartAFD, sem_GetAFD, 4000, 3},
    {"stigmation", sem_StartASD, sem_GetASD, 5000, 2},
    {"contrast and brightness", sem_StartACB, sem_GetACB, 2000, 1},
    {"gun alignment", sem_StartAGA, sem_GetAGA, 6000, 4},
};

class AutoRunTest : public SimTest {};

TEST_F(AutoRunTest, RunsNeedTheBeam) {
  for (const AutoRunCase& run : kRuns) EXPECT_EQ(run.start(), 0) << run.name << " with HT off";
  BeamOn();
  ASSERT_EQ(sem_SetBeamBlank(1), 1);
  for (const AutoRunCase& run : kRuns) EXPECT_EQ(run.start(), 0) << run.name << " blanked";
}

TEST_F(AutoRunTest, EachRunReadsOneWhileRunningThenZero) {
  BeamOn();
  for (const AutoRunCase& run : kRuns) {
    SCOPED_TRACE(run.name);
    EXPECT_EQ(run.status(), 0);
    ASSERT_EQ(run.start(), 1);
    EXPECT_EQ(sem_GetAutoMode(), run.autoMode);
    for (const AutoRunCase& other : kRuns) EXPECT_EQ(other.start(), 0) << "one run at a time";
    EXPECT_EQ(run.status(), 1);
    Advance(run.durationMs - 1);
    EXPECT_EQ(run.status(), 1);
    Advance(1);
    EXPECT_EQ(run.status(), 0);
    EXPECT_EQ(sem_GetAutoMode(), 0);
  }
}

TEST_F(AutoRunTest, AutofocusFindsTheSurfaceAndFineModeReachesLess) {
  const SpecimenTruth truth = TruthOfSeed(Options().seed);
  const double surfaceMm = 10.0 + truth.surfaceOffsetMm;  // the stage stands at Z 10 mm
  BeamOn();
  ASSERT_EQ(sem_SetWD(12), 1);
  ASSERT_EQ(sem_StartAFD(), 1);
  Advance(4000);
  EXPECT_EQ(sem_GetAFD(), 0);
  EXPECT_NEAR(sem_GetWD() / 10.0, surfaceMm, 0.1);

  ASSERT_EQ(sem_SetAFDMode(1), 1);
  ASSERT_EQ(sem_SetWD(12), 1);
  ASSERT_EQ(sem_StartAFD(), 1);
  Advance(2000);
  EXPECT_EQ(sem_GetAFD(), 0);
  EXPECT_EQ(sem_GetWD(), 115) << "the fine search reaches half a millimetre";
}

TEST_F(AutoRunTest, AutofocusFollowsTheStageHeight) {
  BeamOn();
  StagePositionRecord lower{};
  lower.axisWord[kAxisZ] = 1;
  lower.value[kAxisZ] = 20.0f;
  ASSERT_EQ(sem_SetStagePosAbs(&lower), 1);
  Advance(10000);
  ASSERT_EQ(sem_StartAFD(), 1);
  Advance(4000);
  EXPECT_NEAR(sem_GetWD(), 200 + 10 * TruthOfSeed(Options().seed).surfaceOffsetMm, 1.0);
}

TEST_F(AutoRunTest, StigmationCentresOnTheBestSettingInTheModesAxes) {
  const SpecimenTruth truth = TruthOfSeed(Options().seed);
  BeamOn();
  ASSERT_EQ(sem_SetStigXAbs(1000), 1);
  ASSERT_EQ(sem_SetStigYAbs(3000), 1);
  ASSERT_EQ(sem_SetASDMode(2), 1);  // X only
  ASSERT_EQ(sem_StartASD(), 1);
  Advance(5000);
  EXPECT_NEAR(sem_GetStigX(), truth.bestStigmator[0], 2);
  EXPECT_EQ(sem_GetStigY(), 3000);
  ASSERT_EQ(sem_SetASDMode(0), 1);
  ASSERT_EQ(sem_StartASD(), 1);
  Advance(5000);
  EXPECT_NEAR(sem_GetStigY(), truth.bestStigmator[1], 2);
  EXPECT_EQ(sem_SetASDMode(4), 0);
}

TEST_F(AutoRunTest, GunAlignmentCentresTheGun) {
  const SpecimenTruth truth = TruthOfSeed(Options().seed);
  BeamOn();
  for (auto set : {sem_SetGunAlinShiftXAbs, sem_SetGunAlinShiftYAbs, sem_SetGunAlinTiltXAbs, sem_SetGunAlinTiltYAbs}) {
    ASSERT_EQ(set(0), 1);
  }
  ASSERT_EQ(sem_StartAGA(), 1);
  EXPECT_NE(sem_GetAGA(), 0);
  Advance(3000);
  EXPECT_NE(sem_GetAGA(), 0);
  EXPECT_EQ(sem_GetGunAlinShiftX(), 0) << "the values change when the run ends";
  Advance(3000);
  EXPECT_EQ(sem_GetAGA(), 0);
  const std::int32_t gun[] = {sem_GetGunAlinShiftX(), sem_GetGunAlinShiftY(), sem_GetGunAlinTiltX(),
                              sem_GetGunAlinTiltY()};
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(gun[i], truth.bestGun[i], 1) << "channel " << i;
}

TEST_F(AutoRunTest, ContrastAndBrightnessBringTheImageIntoRange) {
  BeamOn();
  const auto saturated = [](const GreyImage& image) {
    std::size_t count = 0;
    for (std::uint8_t p : image.pixels) count += p == 0 || p == 255;
    return static_cast<double>(count) / static_cast<double>(image.pixels.size());
  };
  const CaptureRecord before = Capture("BMP", "C:\\before.bmp");
  const std::optional<GreyImage> harsh = DecodeBmp(before.file);
  ASSERT_TRUE(harsh);
  ASSERT_EQ(sem_StartACB(), 1);
  Advance(2000);
  ASSERT_EQ(sem_GetACB(), 0);
  EXPECT_NE(sem_GetCont(), 2100);
  EXPECT_EQ(sem_GetCont(), sem_GetDetector(0));
  EXPECT_EQ(sem_GetBrt(), sem_GetDetector(1));
  const CaptureRecord after = Capture("BMP", "C:\\after.bmp");
  const std::optional<GreyImage> balanced = DecodeBmp(after.file);
  ASSERT_TRUE(balanced);
  EXPECT_GT(saturated(*harsh), 0.05);
  EXPECT_LT(saturated(*balanced), 0.02);
  EXPECT_GT(MeanGrey(*balanced), 70.0);
  EXPECT_LT(MeanGrey(*balanced), 160.0);
}

TEST_F(AutoRunTest, AutofocusSharpensTheImage) {
  BeamOn();
  ASSERT_EQ(sem_SetMagAbs(3000), 1);
  ASSERT_EQ(sem_StartACB(), 1);
  Advance(2000);
  ASSERT_EQ(sem_SetWD(11), 1);
  const std::optional<GreyImage> blurred = DecodeBmp(Capture("BMP", "blurred.bmp").file);
  ASSERT_EQ(sem_StartAFD(), 1);
  Advance(4000);
  const std::optional<GreyImage> sharp = DecodeBmp(Capture("BMP", "sharp.bmp").file);
  ASSERT_TRUE(blurred && sharp);
  EXPECT_GT(Sharpness(*sharp), 1.5 * Sharpness(*blurred));
}

TEST_F(AutoRunTest, AtTimeScaleZeroARunIsReportedOnceThenDone) {
  SimulatorOptions instant = Options();
  instant.timeScale = 0.0;
  Apply(instant);
  BeamOn();
  ASSERT_EQ(sem_SetWD(12), 1);
  ASSERT_EQ(sem_StartAFD(), 1);
  EXPECT_EQ(sem_GetAFD(), 1) << "the first query after the start sees it running";
  EXPECT_EQ(sem_GetAFD(), 0);
  EXPECT_LT(sem_GetWD(), 110);
  // Unpolled, a run still ends and leaves its result.
  ASSERT_EQ(sem_SetWD(12), 1);
  ASSERT_EQ(sem_StartAFD(), 1);
  EXPECT_LT(sem_GetWD(), 110);
}

TEST_F(AutoRunTest, ARunWhoseBeamGoesOffFindsNothing) {
  BeamOn();
  ASSERT_EQ(sem_SetWD(12), 1);
  ASSERT_EQ(sem_StartAFD(), 1);
  Advance(1000);
  ASSERT_EQ(sem_SetHT(0), 1);
  Advance(3000);
  EXPECT_EQ(sem_GetAFD(), 0);
  EXPECT_EQ(sem_GetWD(), 120);
}

}  // namespace
}  // namespace vesk::sim::testing
