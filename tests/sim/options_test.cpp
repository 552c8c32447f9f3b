// Simulator options: refusals, pins, the instrument type, the manager
// window, and determinism under one seed.
#include <fstream>
#include <thread>

#include "sim/screen_state.h"
#include "sim/stage.h"
#include "sim/image_files.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

class OptionsTest : public SimTest {};

TEST_F(OptionsTest, RefusedOperationsReturnZeroAndDoNothing) {
  SimulatorOptions options;
  options.refusedOperations = {"SetHT", "sem_setmagabs", "GetMag"};
  Apply(options);
  EXPECT_EQ(sem_SetHT(1), 0);
  EXPECT_EQ(sem_GetHT(), 0);
  EXPECT_EQ(sem_SetMagAbs(2000), 0);
  EXPECT_EQ(sem_GetMag(), 0);
  EXPECT_EQ(sem_SetMagRel(1), 1) << "other operations work as usual";
}

TEST_F(OptionsTest, PinnedResultsAreReturnedInsteadOfCarryingTheOperationOut) {
  SimulatorOptions options;
  options.pinnedResults = {"GetVacuumStatus=1", "StartAFD = 2", "GetAccv=0x7530", "GetLoadCurrent=-1"};
  Apply(options);
  EXPECT_EQ(sem_GetVacuumStatus(), 1);
  EXPECT_EQ(sem_SetHT(1), 0) << "the interlock sees the pinned vacuum";
  EXPECT_EQ(sem_GetAccv(), 30000);
  EXPECT_EQ(sem_GetLoadCurrent(), -1);
  EXPECT_EQ(sem_StartAFD(), 2);
  EXPECT_EQ(sem_GetAutoMode(), 0) << "a pinned start starts nothing";
}

TEST_F(OptionsTest, ForcedResultsCanBeSetAndClearedWhileRunning) {
  BeamOn();
  ASSERT_TRUE(PinResult("GetAFD=1"));  // a focus run that never ends
  EXPECT_EQ(sem_GetAFD(), 1);
  ASSERT_TRUE(RefuseOperation("SetWD"));
  EXPECT_EQ(sem_SetWD(20), 0);
  EXPECT_EQ(sem_GetWD(), 100);
  ClearOverrides();
  EXPECT_EQ(sem_GetAFD(), 0);
  EXPECT_EQ(sem_SetWD(20), 1);
}

TEST_F(OptionsTest, OptionsThatDoNotParseAreRejectedAndChangeNothing) {
  ASSERT_EQ(sem_SetMagAbs(4321), 1);
  struct Bad {
    std::vector<std::string> refused;
    std::vector<std::string> pinned;
    double timeScale;
  };
  const Bad kBad[] = {
      {{"NoSuchOperation"}, {}, 1.0}, {{}, {"GetHT"}, 1.0},        {{}, {"GetHT=on"}, 1.0},
      {{}, {"GetHT=99999999999"}, 1.0}, {{}, {"Nothing=1"}, 1.0},  {{}, {"GetManagerHandle=1"}, 1.0},
      {{}, {}, -1.0},
  };
  for (const Bad& bad : kBad) {
    SimulatorOptions options = Options();
    options.refusedOperations = bad.refused;
    options.pinnedResults = bad.pinned;
    options.timeScale = bad.timeScale;
    std::string error;
    EXPECT_FALSE(ApplySimulatorOptions(options, clock_, &error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(sem_GetMag(), 4321);
  std::string error;
  EXPECT_FALSE(PinResult("GetHT:1", &error));
  EXPECT_FALSE(RefuseOperation("SetNothing", &error));
}

TEST_F(OptionsTest, OperationNamesMatchWithOrWithoutThePrefixInAnyCase) {
  EXPECT_EQ(SemOpFromName("SetHT"), SemOp::SetHT);
  EXPECT_EQ(SemOpFromName("sem_GetStageInfo"), SemOp::GetStageInfo);
  EXPECT_EQ(SemOpFromName(" getmag "), SemOp::GetMag);
  EXPECT_FALSE(SemOpFromName("sem_"));
  EXPECT_FALSE(SemOpFromName("SetH"));
}

TEST_F(OptionsTest, TheManagerWindowOutlivesAReset) {
  int window = 0;
  SetManagerWindow(&window);
  EXPECT_EQ(sem_GetManagerHandle(), &window);
  Apply();
  EXPECT_EQ(sem_GetManagerHandle(), &window);
  EXPECT_EQ(sem_SetVeskHandle(&window), 1);
  EXPECT_EQ(sem_SetWindowHandle(&window, 1), 1);
  SetManagerWindow(nullptr);
  EXPECT_EQ(sem_GetManagerHandle(), nullptr);
}

// The same seed, scenario and requests: the same readings and the same
// image bytes; another seed: another specimen.
class DeterminismTest : public SimTest {
 protected:
  struct Outcome {
    std::vector<std::int32_t> readings;
    std::vector<std::vector<std::uint8_t>> images;
  };

  // watched: as while the live view runs, requests are kept and the screen
  // is read between every two steps; that must change nothing.
  Outcome Session(std::uint64_t seed, double timeScale, bool watched = false) {
    SimulatorOptions options;
    options.seed = seed;
    options.timeScale = timeScale;
    options.scenarioFile = root_ / "scenario.txt";
    std::ofstream(options.scenarioFile) << "0s backlash x 0.003\n1s drift y 0.2\n2s charging 0.001\n";
    Apply(options);
    KeepRequests(watched);
    Outcome outcome;
    BeamOn();
    Watch(watched);
    sem_SetMagAbs(5000);
    Watch(watched);
    sem_SetWD(11);
    StagePositionRecord move{};
    move.axisWord[kAxisX] = 1;
    move.value[kAxisX] = 1.25f;
    move.axisWord[kAxisRotation] = 1;
    move.value[kAxisRotation] = 30.0f;
    sem_SetStagePosAbs(&move);
    Advance(400);
    for (auto run : {sem_StartAFD, sem_StartASD, sem_StartACB, sem_StartAGA}) {
      run();
      for (int step = 0; step < 6; ++step) {
        Advance(1000);
        Watch(watched);
      }
    }
    const auto record = [&outcome](std::int32_t value) { outcome.readings.push_back(value); };
    for (auto get : {sem_GetOLCrs, sem_GetOLFine, sem_GetWD, sem_GetStigX, sem_GetStigY, sem_GetCont, sem_GetBrt,
                     sem_GetGunAlinShiftX, sem_GetGunAlinTiltY}) {
      record(get());
    }
    StageInfoRecord info{};
    sem_GetStageInfo(&info);
    record(static_cast<std::int32_t>(info.position[kAxisX] * 1000.0f));
    Watch(watched);
    outcome.images.push_back(ReadBytes(Capture("TIFF", "C:\\a.tif", "ON").file));
    Watch(watched);
    outcome.images.push_back(ReadBytes(Capture("JPEG", "C:\\b.jpg").file));
    outcome.images.push_back(ReadBytes(Capture("BMP", "C:\\c.bmp").file));
    return outcome;
  }

  static void Watch(bool watched) {
    if (watched) (void)ReadScreen();
  }
};

TEST_F(DeterminismTest, TheSameSeedGivesTheSameReadingsAndImages) {
  for (double timeScale : {0.0, 1.0}) {
    SCOPED_TRACE(timeScale);
    const Outcome first = Session(7, timeScale);
    const Outcome second = Session(7, timeScale);
    EXPECT_EQ(first.readings, second.readings);
    ASSERT_EQ(first.images.size(), 3u);
    for (std::size_t i = 0; i < first.images.size(); ++i) {
      if (kHasImageCodecs || i == 2) {  // TIFF and JPEG need the codecs
        EXPECT_FALSE(first.images[i].empty());
      }
      EXPECT_TRUE(first.images[i] == second.images[i]) << "image " << i;
    }
    const Outcome other = Session(8, timeScale);
    EXPECT_NE(first.readings, other.readings);
    EXPECT_FALSE(first.images[2] == other.images[2]);

    const Outcome watched = Session(7, timeScale, true);
    EXPECT_EQ(first.readings, watched.readings);
    for (std::size_t i = 0; i < first.images.size(); ++i) EXPECT_TRUE(first.images[i] == watched.images[i]) << i;
  }
}

// What the live view shows: the state, and the requests as they came.
TEST_F(DeterminismTest, TheScreenShowsTheStateAndTheRequestsWithoutReadings) {
  Apply();
  KeepRequests(true);
  BeamOn();
  sem_SetMagAbs(5000);
  StagePositionRecord move{};
  move.axisWord[kAxisX] = 1;
  move.value[kAxisX] = 1.5f;
  sem_SetStagePosAbs(&move);
  sem_LoadRecipeFileEx("a\x01" "b", 0, 0, 0);
  sem_GetMag();
  const ScreenSnapshot screen = ReadScreen();
  EXPECT_EQ(screen.state.magnification, 5000);
  EXPECT_TRUE(screen.state.stageMoving);
  EXPECT_DOUBLE_EQ(screen.state.stageTarget[kAxisX], 1.5);
  ASSERT_GE(screen.changes.size(), 3u);
  const auto text = [](const RequestRecord& request) {
    return std::string(SemOpName(request.op)) + "(" + request.arguments.data() + ")=" + std::to_string(request.result);
  };
  const std::size_t n = screen.changes.size();
  EXPECT_EQ(text(screen.changes[n - 3]), "SetMagAbs(5000)=1");
  EXPECT_EQ(text(screen.changes[n - 2]), "SetStagePosAbs(X=1.5)=1");
  EXPECT_EQ(text(screen.changes[n - 1]), "LoadRecipeFileEx(\"a?b\", 0, 0, 0)=0");
  EXPECT_EQ(text(screen.requests.back()), "GetMag()=5000");
  KeepRequests(false);
}

// The simulator's own pump advances it on the steady clock while client
// threads call in; a capture lands without anyone polling for it.
TEST_F(OptionsTest, ConcurrentCallersAndThePumpShareTheInstrumentSafely) {
  WriteSettings("OFF", "BMP", "C:\\pumped.bmp");
  SimulatorOptions options = Options();
  options.timeScale = 0.001;
  ASSERT_TRUE(ApplySimulatorOptions(options));
  ASSERT_EQ(sem_SetHT(1), 1);
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([t] {
      for (int i = 0; i < 300; ++i) {
        sem_SetMagRel(static_cast<std::int16_t>((i + t) % 3 - 1));
        StagePositionRecord step{};
        step.axisWord[kAxisY] = 1;
        step.value[kAxisY] = (i % 2 == 0) ? 0.5f : -0.5f;
        sem_SetStagePosRel(&step);
        StageInfoRecord info{};
        sem_GetStageInfo(&info);
        sem_StartAFD();
        sem_GetAFD();
        sem_GetWD();
      }
    });
  }
  ASSERT_EQ(sem_CallApp(1, 8192), 1);
  for (std::thread& caller : callers) caller.join();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(images_ / "pumped.bmp") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(std::filesystem::exists(images_ / "pumped.bmp"));
  Apply();  // back to a manual clock: stops the pump
}

}  // namespace
}  // namespace vesk::sim::testing
