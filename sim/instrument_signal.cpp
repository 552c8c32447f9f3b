// Detectors, IMS and PCD, the automatic runs (focus, stigmation, contrast
// and brightness, gun alignment), and the scene the detector sees.
#include <algorithm>
#include <cmath>

#include "sim/hashing.h"
#include "sim/instrument.h"
#include "sim/optics.h"
#include "sim/ranges.h"

namespace vesk::sim {
namespace {

// Durations at a time scale of 1, in milliseconds.
constexpr double kContrastBrightnessMs = 2000.0;
constexpr double kStigmationMs = 5000.0;
constexpr double kFocusMs = 4000.0;
constexpr double kFineFocusMs = 2000.0;
constexpr double kGunAlignmentMs = 6000.0;
constexpr double kPcdTravelMs = 1500.0;

// Focus mode 1 (fine) and stigmation mode 1 (fine) search a narrow range.
constexpr double kFineFocusReachMm = 0.5;
constexpr std::int32_t kFineStigmationReach = 200;
// Contrast and brightness aim at this mean grey and spread, as fractions.
constexpr double kTargetMean = 0.45;
constexpr double kTargetSpread = 0.2;
constexpr double kDwellForMeasuring = 4.0;

enum ResidualKind : std::int64_t { kFocusResidual = 10, kStigmationResidual, kGunResidual };

}  // namespace

// ---- Detectors ----

std::int32_t SimulatedInstrument::GetDetector(std::int16_t item) {
  return ranges::kDetectorItem.Contains(item) ? detector_[static_cast<std::size_t>(item)] : 0;
}

std::int32_t SimulatedInstrument::SetDetector(std::int16_t item, std::int16_t value) {
  if (!ranges::kDetectorItem.Contains(item) || !ranges::kDetectorValue.Contains(value)) return 0;
  detector_[static_cast<std::size_t>(item)] = value;
  return 1;
}

std::int32_t SimulatedInstrument::GetCont() { return detector_[0]; }
std::int32_t SimulatedInstrument::GetBrt() { return detector_[1]; }
std::int32_t SimulatedInstrument::SetContRel(std::int16_t step) {
  return StepWithin(ranges::kDetectorValue, detector_[0], std::int64_t{step} * kContrastStep);
}
std::int32_t SimulatedInstrument::SetBrtRel(std::int16_t step) {
  return StepWithin(ranges::kDetectorValue, detector_[1], std::int64_t{step} * kContrastStep);
}
std::int32_t SimulatedInstrument::SetContFineRel(std::int16_t step) {
  return StepWithin(ranges::kDetectorValue, detector_[0], std::int64_t{step} * kContrastFineStep);
}
std::int32_t SimulatedInstrument::SetBrtFineRel(std::int16_t step) {
  return StepWithin(ranges::kDetectorValue, detector_[1], std::int64_t{step} * kContrastFineStep);
}

std::int32_t SimulatedInstrument::GetIms() { return ims_; }
std::int32_t SimulatedInstrument::SetIms(std::int16_t value) {
  if (!ranges::kIms.Contains(value)) return 0;
  ims_ = value;
  return 1;
}

// ---- Probe-current detector: 0 retracted, 1 inserted (in the beam path) ----

std::int32_t SimulatedInstrument::GetPcdMode() { return pcdMode_; }

// 1: ready, 2: travelling.
std::int32_t SimulatedInstrument::GetPcdStatus() { return now_ < pcdMovingUntil_ ? 2 : 1; }

std::int32_t SimulatedInstrument::SetPcdMode(std::int16_t mode) {
  if (!ranges::kSwitch.Contains(mode) || GetPcdStatus() != 1) return 0;
  if (mode != pcdMode_) pcdMovingUntil_ = now_ + Scaled(kPcdTravelMs);
  pcdMode_ = mode;
  return 1;
}

// ---- Automatic runs ----

std::int32_t SimulatedInstrument::StartRun(AutoRun run, double milliseconds) {
  if (!BeamOn() || run_.active != AutoRun::kNone) return 0;
  run_.active = run;
  run_.end = now_ + Scaled(milliseconds);
  run_.mode = run == AutoRun::kFocus ? focusMode_ : stigmationMode_;
  ++run_.started;
  run_.unreported[static_cast<std::size_t>(run)] = run_.end == now_;
  return 1;
}

std::int32_t SimulatedInstrument::RunStatus(AutoRun run) {
  bool& unreported = run_.unreported[static_cast<std::size_t>(run)];
  const bool running = run_.active == run || unreported;
  unreported = false;
  return running ? 1 : 0;
}

void SimulatedInstrument::CompleteRun() {
  const AutoRun run = run_.active;
  run_.active = AutoRun::kNone;
  if (!BeamOn()) return;  // the beam went off during the run: nothing found
  switch (run) {
    case AutoRun::kFocus:
      CompleteFocus();
      break;
    case AutoRun::kStigmation:
      CompleteStigmation();
      break;
    case AutoRun::kContrastBrightness:
      CompleteContrastBrightness();
      break;
    case AutoRun::kGunAlignment:
      CompleteGunAlignment();
      break;
    case AutoRun::kNone:
      break;
  }
}

// In [-0.5, 0.5): how far this run lands from the exact optimum.
double SimulatedInstrument::Residual(std::int64_t what, std::int64_t index) const {
  return Unit(Hash(setup_.seed, what, run_.started, index)) - 0.5;
}

// Lands within a fifth of the depth of field of the surface.
void SimulatedInstrument::CompleteFocus() {
  const double surfaceMm = SpecimenDistanceMm();
  const double depthOfFieldMm = DepthOfFieldUm(PixelSizeUm(magnification_), ProbeDiameterUm(volts_, condenser_),
                                               ConvergenceRad(surfaceMm, condenser_)) /
                                1000.0;
  double target = surfaceMm + Residual(kFocusResidual, 0) * 0.2 * depthOfFieldMm;
  const double current = FocusDistanceMm(objective_);
  if (run_.mode == 1) {
    target = current + std::clamp(target - current, -kFineFocusReachMm, kFineFocusReachMm);
  }
  objective_ = ObjectiveForDistance(target);
}

// Modes: 0 both axes, 1 both axes within a narrow range, 2 X only, 3 Y only.
void SimulatedInstrument::CompleteStigmation() {
  for (std::size_t axis = 0; axis < stigmator_.size(); ++axis) {
    if ((run_.mode == 2 && axis == 1) || (run_.mode == 3 && axis == 0)) continue;
    std::int32_t goal = truth_.bestStigmator[axis] +
                        static_cast<std::int32_t>(std::lround(Residual(kStigmationResidual, static_cast<std::int64_t>(axis)) * 4.0));
    if (run_.mode == 1) {
      goal = stigmator_[axis] + std::clamp(goal - stigmator_[axis], -kFineStigmationReach, kFineStigmationReach);
    }
    stigmator_[axis] = ranges::kStigmator.Clamp(goal);
  }
}

// Contrast and brightness (items 0 and 1) that map the measured signal to
// a mid-grey mean with a comfortable spread.
void SimulatedInstrument::CompleteContrastBrightness() {
  const SignalStatistics statistics = MeasureSignal(SceneNow(kDwellForMeasuring));
  const double wanted = kTargetSpread / std::max(statistics.deviation, 0.005);
  detector_[0] = ContrastForGain(std::clamp(wanted, 0.25, 64.0));
  const double gain = GainOfContrast(detector_[0]);
  detector_[1] = BrightnessForOffset(kTargetMean - gain * statistics.mean);
}

void SimulatedInstrument::CompleteGunAlignment() {
  for (std::size_t i = 0; i < gun_.size(); ++i) {
    gun_[i] = ranges::kGunAlignment.Clamp(
        truth_.bestGun[i] + std::lround(Residual(kGunResidual, static_cast<std::int64_t>(i)) * 2.0));
  }
}

std::int32_t SimulatedInstrument::StartAFD() {
  return StartRun(AutoRun::kFocus, focusMode_ == 1 ? kFineFocusMs : kFocusMs);
}
std::int32_t SimulatedInstrument::GetAFD() { return RunStatus(AutoRun::kFocus); }
std::int32_t SimulatedInstrument::SetAFDMode(std::int16_t mode) {
  if (!ranges::kSwitch.Contains(mode)) return 0;
  focusMode_ = mode;
  return 1;
}
std::int32_t SimulatedInstrument::StartASD() { return StartRun(AutoRun::kStigmation, kStigmationMs); }
std::int32_t SimulatedInstrument::GetASD() { return RunStatus(AutoRun::kStigmation); }
std::int32_t SimulatedInstrument::SetASDMode(std::int16_t mode) {
  if (!ranges::kAsdMode.Contains(mode)) return 0;
  stigmationMode_ = mode;
  return 1;
}
std::int32_t SimulatedInstrument::StartACB() { return StartRun(AutoRun::kContrastBrightness, kContrastBrightnessMs); }
std::int32_t SimulatedInstrument::GetACB() { return RunStatus(AutoRun::kContrastBrightness); }
std::int32_t SimulatedInstrument::StartAGA() { return StartRun(AutoRun::kGunAlignment, kGunAlignmentMs); }
std::int32_t SimulatedInstrument::GetAGA() { return RunStatus(AutoRun::kGunAlignment); }
std::int32_t SimulatedInstrument::GetAutoMode() { return static_cast<std::int32_t>(run_.active); }

// ---- The scene ----

Scene SimulatedInstrument::SceneNow(double dwell) const {
  constexpr double kPi = 3.14159265358979323846;
  Scene scene;
  scene.seed = setup_.seed;
  scene.frame = frames_;
  scene.beamOn = BeamOn() && pcdMode_ == 0;  // an inserted PCD takes the whole beam
  scene.pixelUm = PixelSizeUm(magnification_);
  scene.centreXUm = stage_.SpecimenPosition(kAxisX, now_) * 1000.0;
  scene.centreYUm = stage_.SpecimenPosition(kAxisY, now_) * 1000.0;
  const double shiftSpan = FineShiftCentre();
  scene.shiftXUm = (fineShift_[0] - FineShiftCentre()) / shiftSpan * kFineShiftReachUm;
  scene.shiftYUm = (fineShift_[1] - FineShiftCentre()) / shiftSpan * kFineShiftReachUm;
  scene.rasterRotationRad = rotationTenths_ / 10.0 * kPi / 180.0;
  scene.stageRotationRad = stage_.Position(kAxisRotation, now_) * kPi / 180.0;
  scene.tiltRad = stage_.Position(kAxisTilt, now_) * kPi / 180.0;
  const double focusMm = FocusDistanceMm(objective_);
  const ProbeSpread spread =
      ProbeSpreadAt((focusMm - SpecimenDistanceMm()) * 1000.0, ConvergenceRad(focusMm, condenser_),
                    ProbeDiameterUm(volts_, condenser_), stigmator_[0] - truth_.bestStigmator[0],
                    stigmator_[1] - truth_.bestStigmator[1], scene.rasterRotationRad);
  scene.blurXPx = kFwhmPerSigma * std::sqrt(spread.xx) / scene.pixelUm;
  scene.blurYPx = kFwhmPerSigma * std::sqrt(spread.yy) / scene.pixelUm;
  scene.blurCorrelation = spread.xx > 0.0 && spread.yy > 0.0 ? spread.xy / std::sqrt(spread.xx * spread.yy) : 0.0;
  scene.signal = GunEfficiency() * CondenserTransmission(condenser_) * ElectronYield(volts_);
  scene.dwell = dwell;
  scene.gain = GainOfContrast(detector_[0]);
  // The charge adds to the secondary-electron signal, so the detector's gain
  // acts on it.
  scene.offset = OffsetOfBrightness(detector_[1]) + (scene.beamOn ? scene.gain * ChargeNow() : 0.0);
  scene.volts = volts_;
  scene.magnification = magnification_;
  scene.workingDistanceTenths = WorkingDistanceTenths(objective_);
  return scene;
}

}  // namespace vesk::sim
