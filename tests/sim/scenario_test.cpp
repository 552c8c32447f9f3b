// Scenario files: each event happens at its time on the clock, and a file
// that does not parse is refused with the line at fault.
#include <cmath>
#include <fstream>
#include <iterator>

#include "sim/scenario.h"
#include "sim/stage.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

class ScenarioTest : public SimTest {
 protected:
  std::filesystem::path WriteScenario(std::string_view text) {
    const std::filesystem::path file = root_ / "scenario.txt";
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }
  void ApplyScenario(std::string_view text) {
    SimulatorOptions options;
    options.scenarioFile = WriteScenario(text);
    Apply(options);
  }
};

StageInfoRecord Info() {
  StageInfoRecord info{};
  EXPECT_EQ(sem_GetStageInfo(&info), 1);
  return info;
}

bool MoveTo(int axis, float value) {
  StagePositionRecord target{};
  target.axisWord[axis] = 1;
  target.value[axis] = value;
  return sem_SetStagePosAbs(&target) == 1;
}

// How far (in pixels, along the rows) the specimen lies further right in
// `later` than in `earlier`: the shift that matches 4 x 4 block means best.
int FieldShiftPx(const GreyImage& earlier, const GreyImage& later, int largest) {
  constexpr int kBlock = 4;
  const auto block = [](const GreyImage& image, int bx, int by) {
    double sum = 0.0;
    for (int y = 0; y < kBlock; ++y) {
      for (int x = 0; x < kBlock; ++x) sum += image.at(bx * kBlock + x, by * kBlock + y);
    }
    return sum;
  };
  const int columns = 640 / kBlock;
  const int rows = 480 / kBlock;
  int best = 0;
  double bestDifference = 1e300;
  for (int shift = -largest / kBlock; shift <= largest / kBlock; ++shift) {
    double difference = 0.0;
    for (int by = 0; by < rows; ++by) {
      for (int bx = columns / 4; bx < 3 * columns / 4; ++bx) {
        difference += std::fabs(block(earlier, bx, by) - block(later, bx + shift, by));
      }
    }
    if (difference < bestDifference) {
      bestDifference = difference;
      best = shift * kBlock;
    }
  }
  return best;
}

TEST_F(ScenarioTest, TheVacuumFailsAtItsTimeTrippingTheHighVoltageAndPumpsDownAgain) {
  ApplyScenario("# a script's run meets a vacuum failure\n20s vacuum-loss\n");
  BeamOn();
  Advance(19999);
  EXPECT_EQ(sem_GetHT(), 1);
  Advance(1);
  EXPECT_EQ(sem_GetHT(), 0);
  EXPECT_EQ(sem_GetVacuumStatus(), 2);
  EXPECT_EQ(sem_SetHT(1), 0);
  Advance(18000);
  EXPECT_EQ(sem_GetVacuumStatus(), 4);
  BeamOn();
}

TEST_F(ScenarioTest, TheHighVoltageTripsAtItsTimeWithTheVacuumReady) {
  ApplyScenario("1.5s ht-trip");
  BeamOn();
  Advance(1499);
  EXPECT_EQ(sem_GetHT(), 1);
  Advance(1);
  EXPECT_EQ(sem_GetHT(), 0);
  EXPECT_EQ(sem_GetVacuumStatus(), 4);
  BeamOn();
}

TEST_F(ScenarioTest, AStalledAxisHoldsItsMoveUntilReleasedOrStopped) {
  ApplyScenario("1s stall X\n4s release x\n6s stall y\n");
  ASSERT_TRUE(MoveTo(kAxisX, 10.0f));  // 4 mm/s
  Advance(3000);
  StageInfoRecord info = Info();
  EXPECT_FLOAT_EQ(info.position[kAxisX], 4.0f);
  EXPECT_EQ(sem_GetStageMoveStatus(), 1) << "the move is not over";
  EXPECT_EQ(info.axisStatus[kAxisX] & kAxisFlagMask, kAxisFlagMask);
  EXPECT_FLOAT_EQ(info.stageValue[kAxisX], 10.0f);
  Advance(1000);
  EXPECT_FLOAT_EQ(Info().position[kAxisX], 4.0f);
  Advance(1500);
  EXPECT_FLOAT_EQ(Info().position[kAxisX], 10.0f) << "released, it goes on to its target";
  EXPECT_EQ(sem_GetStageMoveStatus(), 0);

  Advance(500);
  ASSERT_TRUE(MoveTo(kAxisY, 5.0f));
  Advance(2000);
  EXPECT_EQ(sem_GetStageMoveStatus(), 1);
  EXPECT_FLOAT_EQ(Info().position[kAxisY], 0.0f);
  EXPECT_EQ(sem_StopStage(), 1);
  EXPECT_EQ(sem_GetStageMoveStatus(), 0) << "a stop ends the held move";
}

TEST_F(ScenarioTest, ASlowedAxisGoesOnAtItsReducedSpeed) {
  ApplyScenario("1s slow y 0.25\n");
  ASSERT_TRUE(MoveTo(kAxisY, 10.0f));
  Advance(3000);
  const StageInfoRecord info = Info();
  EXPECT_FLOAT_EQ(info.position[kAxisY], 6.0f);  // 4 mm in the first second, then 1 mm/s
  EXPECT_FLOAT_EQ(info.stageValue[5 + kAxisY], 1.0f);
  ASSERT_TRUE(MoveTo(kAxisX, -1.0f));
  Advance(250);
  EXPECT_FLOAT_EQ(Info().position[kAxisX], -1.0f) << "other axes keep their speed";
}

TEST_F(ScenarioTest, OperationsAreRefusedPinnedAndLiftedAtTheirTimes) {
  ApplyScenario("1s refuse SetWD\n2s pin sem_GetMag=77\n3s lift SetWD\n4s lift GetMag\n");
  struct Step {
    std::int32_t setWd;
    std::int32_t mag;
  };
  constexpr Step kSteps[] = {{1, 1000}, {0, 1000}, {0, 77}, {1, 77}, {1, 1000}};
  for (std::size_t second = 0; second < std::size(kSteps); ++second) {
    SCOPED_TRACE(second);
    EXPECT_EQ(sem_SetWD(static_cast<std::int16_t>(10 + second)), kSteps[second].setWd);
    EXPECT_EQ(sem_GetMag(), kSteps[second].mag);
    Advance(1000);
  }
  EXPECT_EQ(sem_GetWD(), 140) << "refused settings changed nothing";
}

TEST_F(ScenarioTest, DriftMovesTheSpecimenUnderTheBeamButNotTheStageReadings) {
  ApplyScenario("3s drift x 0.5\n7s drift x 0\n");
  BeamOn();
  ASSERT_EQ(sem_SetMagAbs(5000), 1);  // 40 nm pixels
  const std::optional<GreyImage> before = DecodeBmp(Capture("BMP", "before.bmp").file);  // t 0 to 2 s
  Advance(8000);
  const std::optional<GreyImage> after = DecodeBmp(Capture("BMP", "after.bmp").file);
  ASSERT_TRUE(before && after);
  // From 3 s to 7 s at 0.5 um/s: 2 um, 50 pixels; the field sees the
  // specimen move right, so its features appear further left.
  EXPECT_NEAR(FieldShiftPx(*before, *after, 80), -50, 4);
  EXPECT_FLOAT_EQ(Info().position[kAxisX], 0.0f);
}

TEST_F(ScenarioTest, BacklashLeavesTheSpecimenShortOfWhereTheStageReads) {
  ApplyScenario("0s backlash X 0.002\n");
  BeamOn();
  ASSERT_EQ(sem_SetMagAbs(5000), 1);
  ASSERT_TRUE(MoveTo(kAxisX, -0.1f));
  Advance(1000);
  ASSERT_TRUE(MoveTo(kAxisX, 0.0f));
  Advance(1000);
  const std::optional<GreyImage> fromBelow = DecodeBmp(Capture("BMP", "below.bmp").file);
  ASSERT_TRUE(MoveTo(kAxisX, 0.1f));
  Advance(1000);
  ASSERT_TRUE(MoveTo(kAxisX, 0.0f));
  Advance(1000);
  const std::optional<GreyImage> fromAbove = DecodeBmp(Capture("BMP", "above.bmp").file);
  ASSERT_TRUE(fromBelow && fromAbove);
  EXPECT_FLOAT_EQ(Info().position[kAxisX], 0.0f);
  // 2 um between the two approaches: 50 pixels.
  EXPECT_NEAR(FieldShiftPx(*fromBelow, *fromAbove, 80), -50, 4);
}

TEST_F(ScenarioTest, ChargingBrightensTheImageUntilItEnds) {
  ApplyScenario("5s charging 0.002\n30s charging 0\n");
  BeamOn();
  ASSERT_EQ(sem_StartACB(), 1);
  Advance(2000);
  const std::optional<GreyImage> start = DecodeBmp(Capture("BMP", "start.bmp").file);
  Advance(16000);
  const std::optional<GreyImage> charged = DecodeBmp(Capture("BMP", "charged.bmp").file);
  Advance(12000);
  const std::optional<GreyImage> discharged = DecodeBmp(Capture("BMP", "discharged.bmp").file);
  ASSERT_TRUE(start && charged && discharged);
  EXPECT_GT(MeanGrey(*charged), MeanGrey(*start) + 15.0);
  EXPECT_NEAR(MeanGrey(*discharged), MeanGrey(*start), 3.0);
}

TEST_F(ScenarioTest, AFileThatDoesNotParseIsRefusedNamingTheLine) {
  struct Bad {
    const char* text;
    const char* where;
  };
  constexpr Bad kBad[] = {
      {"1s vacuum-loss\n2s vacuum-lost\n", ":2: "},
      {"# time first\n\nvacuum-loss\n", ":3: "},
      {"10 ht-trip\n", ":1: "},
      {"-1s ht-trip\n", ":1: "},
      {"1s\n", ":1: "},
      {"1s ht-trip now\n", ":1: "},
      {"1s stall W\n", ":1: "},
      {"1s drift Z 1\n", ":1: "},
      {"1s slow x 0\n", ":1: "},
      {"1s slow x fast\n", ":1: "},
      {"1s\tcharging 2\n", ":1: "},
      {"1s refuse SetNothing\n1s lift SetHT\n", ":1: "},
      {"1s ht-trip\r\n2s pin GetHT\r\n", ":2: "},
      {"1s pin GetHT=on\n", ":1: "},
  };
  ASSERT_EQ(sem_SetMagAbs(4321), 1);
  for (const Bad& bad : kBad) {
    SCOPED_TRACE(bad.text);
    SimulatorOptions options = Options();
    options.scenarioFile = WriteScenario(bad.text);
    std::string error;
    EXPECT_FALSE(ApplySimulatorOptions(options, clock_, &error));
    EXPECT_EQ(error.rfind(options.scenarioFile.string() + bad.where, 0), 0u) << error;
  }
  SimulatorOptions missing = Options();
  missing.scenarioFile = root_ / "none.txt";
  std::string error;
  EXPECT_FALSE(ApplySimulatorOptions(missing, clock_, &error));
  EXPECT_EQ(sem_GetMag(), 4321) << "a refused scenario leaves the instrument as it was";
}

TEST_F(ScenarioTest, TheShippedExamplesParse) {
  const std::filesystem::path folder = VESK_SCENARIO_EXAMPLES;
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "the source tree is out of reach";
  int examples = 0;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder)) {
    std::string error;
    const std::optional<std::vector<ScenarioEvent>> events = ReadScenario(entry.path(), &error);
    EXPECT_TRUE(events && !events->empty()) << error;
    ++examples;
  }
  EXPECT_GE(examples, 7);
}

}  // namespace
}  // namespace vesk::sim::testing
