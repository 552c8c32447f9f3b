// The simulated instrument: one object holding the microscope's whole state,
// with one member function per control-library operation. It does not lock
// and does not read a clock: the entry points do both, and bring it up to
// the present with AdvanceTo before every operation.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "scope/sem.h"
#include "sim/overrides.h"
#include "sim/scenario.h"
#include "sim/screen_state.h"
#include "sim/simulator.h"
#include "sim/specimen_image.h"
#include "sim/stage.h"
#include "sim/vacuum.h"

namespace vesk::sim {

struct InstrumentSetup {
  std::int16_t instrumentType = 0;
  double timeScale = 1.0;
  std::uint64_t seed = 1;
  std::filesystem::path imageFolder = "sim-images";
  std::filesystem::path settingsFile = "seminfo.ini";
  bool placeholderCaptures = false;
  std::vector<ScenarioEvent> scenario;  // in time order
};

// Where this specimen's best settings lie; chosen by the seed.
struct SpecimenTruth {
  double surfaceOffsetMm = 0.0;               // surface distance = stage Z + this
  std::array<std::int32_t, 2> bestStigmator{};
  std::array<std::int32_t, 4> bestGun{};       // shift X, shift Y, tilt X, tilt Y
};
SpecimenTruth TruthOfSeed(std::uint64_t seed);

// What sem_GetAutoMode reports: the automatic run in progress.
enum class AutoRun : std::int32_t {
  kNone = 0,
  kContrastBrightness = 1,
  kStigmation = 2,
  kFocus = 3,
  kGunAlignment = 4,
};

class SimulatedInstrument {
 public:
  explicit SimulatedInstrument(const InstrumentSetup& setup);

  // Carries out, in time order, everything due by now: scenario events, ends
  // of automatic runs and captures. Motions need nothing: they are closed forms of time.
  void AdvanceTo(std::int64_t now);

  Overrides& overrides() { return overrides_; }
  void SetManagerWindow(SemWindow window) { managerWindow_ = window; }
  void InjectFault(Fault fault);
  const std::optional<CaptureRecord>& LastCapture() const { return lastCapture_; }
  // The state as the screen shows it, at the instrument's own time.
  ScreenState Screen() const;

  // The operations, declared from the operation list.
#define SEM_OPERATION(result, name, params, args) result name params;
#include "scope/sem_operations.def"

 private:
  struct CaptureJob {
    std::int32_t variant = 1;
    std::string include;
    std::string format;
    std::string path;
    double dwell = 1.0;
    std::int64_t due = 0;
  };
  struct RunState {
    AutoRun active = AutoRun::kNone;
    std::int32_t mode = 0;
    std::int64_t end = 0;
    std::uint32_t started = 0;
    // A run that takes no time (time scale 0) is still reported running by
    // the first status query after its start, as callers expect to see it.
    std::array<bool, 5> unreported{};
  };

  std::int64_t Scaled(double milliseconds) const;
  const Range& MagnificationRange() const;
  const Range& VoltageRange() const;
  const Range& FineShiftRange() const;
  const Range& TargetPressureRange() const;
  std::int32_t FineShiftCentre() const;
  std::int32_t VacuumStatusAsReported() const;
  void TripUnlessVacuumReady();
  bool BeamOn() const { return highVoltage_ && !blanked_; }
  double SpecimenDistanceMm() const;
  double GunEfficiency() const;
  double CaptureDwell(std::int32_t variant) const;
  std::int64_t FrameMs() const;
  Scene SceneNow(double dwell) const;

  std::int32_t StartRun(AutoRun run, double milliseconds);
  std::int32_t RunStatus(AutoRun run);
  void CompleteRun();
  void CompleteFocus();
  void CompleteStigmation();
  void CompleteContrastBrightness();
  void CompleteGunAlignment();
  double Residual(std::int64_t what, std::int64_t index) const;

  std::int32_t StartCapture(std::int32_t variant);
  void CompleteCapture();
  void SetFreeze(std::int32_t mode);
  void Happen(const ScenarioEvent& event);
  double ChargeNow() const;

  InstrumentSetup setup_;
  SpecimenTruth truth_;
  std::int64_t now_ = 0;
  Overrides overrides_;
  SemWindow managerWindow_ = nullptr;
  SemWindow serviceWindow_ = nullptr;

  // Gun and column.
  bool highVoltage_ = false;
  std::int32_t volts_ = 15000;
  bool blanked_ = false;
  std::int32_t magnification_ = 1000;
  std::int32_t objective_ = 0;  // coarse * 4096 + fine
  std::int32_t condenser_ = 2000;
  std::array<std::int32_t, 2> stigmator_{2048, 2048};
  std::array<std::int32_t, 4> gun_{128, 128, 128, 128};
  std::array<std::int32_t, 2> fineShift_{};
  std::int32_t rotationTenths_ = 0;
  std::int32_t focusMode_ = 0;
  std::int32_t stigmationMode_ = 0;
  RunState run_;

  // Signal.
  std::array<std::int32_t, 15> detector_{};
  std::int32_t ims_ = 0;
  std::int32_t pcdMode_ = 0;
  std::int64_t pcdMovingUntil_ = 0;

  // Stage and vacuum.
  Stage stage_;
  Vacuum vacuum_;

  // Scan and the manager application's captures.
  std::int32_t scanSpeed_ = 1;
  std::int32_t freeze_ = 0;
  std::optional<Scene> frozenScene_;
  std::int32_t imageDataFlag_ = 0;
  std::optional<CaptureJob> capture_;
  std::uint32_t frames_ = 0;
  std::uint32_t captures_ = 0;
  std::optional<CaptureRecord> lastCapture_;
  std::string recipe_;

  // The scenario, and the specimen's charge (a brightness that grows at a
  // rate, from a level reached at a time).
  std::size_t nextEvent_ = 0;
  double chargePerMs_ = 0.0;
  double chargeBase_ = 0.0;
  std::int64_t chargeSince_ = 0;
};

}  // namespace vesk::sim
