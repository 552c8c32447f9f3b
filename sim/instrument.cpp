// The instrument's core: construction, the passing of time, and the gun
// and column (high voltage, magnification, lenses, stigmators, gun
// alignment, blanking, rotation, fine image shift).
#include "sim/instrument.h"

#include <algorithm>
#include <cmath>

#include "sim/hashing.h"
#include "sim/optics.h"
#include "sim/ranges.h"

namespace vesk::sim {
namespace {

constexpr std::int16_t kNarrowShiftType = 1;
constexpr std::int16_t kLowVoltageType = 12;
constexpr std::int32_t kDefaultWorkingDistanceMm = 10;
constexpr std::int32_t kDefaultCondenser = 2000;
constexpr std::int32_t kInitialContrast = 2100;
constexpr std::int32_t kInitialBrightness = 1950;
constexpr std::int32_t kDetectorMidScale = 2048;
// Bleeder current of the HT supply per kV, plus the gun's emission, in uA.
constexpr std::int32_t kBleederUaPerKv = 3;
constexpr std::int32_t kEmissionUa = 60;
// Gun efficiency falls off as a Gaussian of this width (raw units) around
// the best alignment.
constexpr double kGunAcceptance = 24.0;

}  // namespace

SpecimenTruth TruthOfSeed(std::uint64_t seed) {
  SpecimenTruth truth;
  // The specimen's surface stands 0.1 to 0.3 mm above the holder.
  truth.surfaceOffsetMm = -0.1 - 0.2 * Unit(Hash(seed, 1));
  for (std::size_t i = 0; i < truth.bestStigmator.size(); ++i) {
    truth.bestStigmator[i] = 2048 + static_cast<std::int32_t>(std::lround((Unit(Hash(seed, 2, static_cast<std::int64_t>(i))) - 0.5) * 300.0));
  }
  for (std::size_t i = 0; i < truth.bestGun.size(); ++i) {
    const double u = Unit(Hash(seed, 3, static_cast<std::int64_t>(i)));
    const double away = 8.0 + 12.0 * u;
    truth.bestGun[i] = 128 + static_cast<std::int32_t>(std::lround(Unit(Hash(seed, 4, static_cast<std::int64_t>(i))) < 0.5 ? -away : away));
  }
  return truth;
}

SimulatedInstrument::SimulatedInstrument(const InstrumentSetup& setup)
    : setup_(setup), truth_(TruthOfSeed(setup.seed)) {
  objective_ = ObjectiveForDistance(kDefaultWorkingDistanceMm);
  fineShift_ = {FineShiftCentre(), FineShiftCentre()};
  detector_.fill(kDetectorMidScale);
  detector_[0] = kInitialContrast;
  detector_[1] = kInitialBrightness;
}

std::int64_t SimulatedInstrument::Scaled(double milliseconds) const {
  return std::llround(milliseconds * setup_.timeScale);
}

const Range& SimulatedInstrument::MagnificationRange() const {
  return setup_.instrumentType == kLowVoltageType ? ranges::kMagnificationType12 : ranges::kMagnification;
}
const Range& SimulatedInstrument::VoltageRange() const {
  return setup_.instrumentType == kLowVoltageType ? ranges::kAcceleratingVoltsType12 : ranges::kAcceleratingVolts;
}
const Range& SimulatedInstrument::FineShiftRange() const {
  return setup_.instrumentType == kNarrowShiftType ? ranges::kFineShiftType1 : ranges::kFineShift;
}
const Range& SimulatedInstrument::TargetPressureRange() const {
  return setup_.instrumentType == kLowVoltageType ? ranges::kTargetPressurePaType12 : ranges::kTargetPressurePa;
}
std::int32_t SimulatedInstrument::FineShiftCentre() const {
  return setup_.instrumentType == kNarrowShiftType ? 655 : 2048;
}

std::int32_t SimulatedInstrument::VacuumStatusAsReported() const {
  // The interlock trusts the same gauge reading the library reports, so a
  // pinned vacuum status acts on the high voltage too.
  return overrides_.Forced(SemOp::GetVacuumStatus).value_or(vacuum_.Status(now_));
}

void SimulatedInstrument::TripUnlessVacuumReady() {
  if (highVoltage_ && VacuumStatusAsReported() != kVacuumReady) highVoltage_ = false;
}

void SimulatedInstrument::AdvanceTo(std::int64_t now) {
  if (now < now_) now = now_;
  const std::vector<ScenarioEvent>& scenario = setup_.scenario;
  for (;;) {
    const bool eventDue = nextEvent_ < scenario.size() && scenario[nextEvent_].atMs <= now;
    const bool runDue = run_.active != AutoRun::kNone && run_.end <= now;
    const bool captureDue = capture_ && capture_->due <= now;
    if (!eventDue && !runDue && !captureDue) break;
    // Earlier first; a scenario event before a run or capture of the same
    // time, and a run ending with a capture before it, so the capture shows
    // its result.
    const std::int64_t eventAt = eventDue ? scenario[nextEvent_].atMs : now;
    const std::int64_t runEnd = runDue ? run_.end : now;
    const std::int64_t captureDueAt = captureDue ? capture_->due : now;
    if (eventDue && (!runDue || eventAt <= runEnd) && (!captureDue || eventAt <= captureDueAt)) {
      now_ = std::max(now_, eventAt);
      TripUnlessVacuumReady();
      Happen(scenario[nextEvent_++]);
    } else if (runDue && (!captureDue || runEnd <= captureDueAt)) {
      now_ = std::max(now_, runEnd);
      CompleteRun();
    } else {
      now_ = std::max(now_, captureDueAt);
      CompleteCapture();
    }
  }
  now_ = now;
  TripUnlessVacuumReady();
}

void SimulatedInstrument::Happen(const ScenarioEvent& event) {
  switch (event.action) {
    case ScenarioAction::VacuumLoss:
      InjectFault(Fault::kVacuumLoss);
      break;
    case ScenarioAction::HighVoltageTrip:
      InjectFault(Fault::kHighVoltageTrip);
      break;
    case ScenarioAction::Stall:
      stage_.Stall(event.axis, now_);
      break;
    case ScenarioAction::Slow:
      stage_.Slow(event.axis, event.amount, now_, setup_.timeScale);
      break;
    case ScenarioAction::Release:
      stage_.Release(event.axis, now_, setup_.timeScale);
      break;
    case ScenarioAction::Drift:
      stage_.SetDrift(event.axis, event.amount, now_);
      break;
    case ScenarioAction::Backlash:
      stage_.SetBacklash(event.axis, event.amount);
      break;
    case ScenarioAction::Refuse:
      overrides_.Force(event.op, 0);
      break;
    case ScenarioAction::Pin:
      overrides_.Force(event.op, event.value);
      break;
    case ScenarioAction::Lift:
      overrides_.Lift(event.op);
      break;
    case ScenarioAction::Charging:
      // Rate 0 ends the charging, and the charge leaks away.
      chargeBase_ = event.amount > 0.0 ? ChargeNow() : 0.0;
      chargeSince_ = now_;
      chargePerMs_ = event.amount / 1000.0;
      break;
  }
}

// Charging brightens the image until the charge reaches a balance.
double SimulatedInstrument::ChargeNow() const {
  constexpr double kLargestCharge = 0.5;
  return std::min(chargeBase_ + chargePerMs_ * static_cast<double>(now_ - chargeSince_), kLargestCharge);
}

void SimulatedInstrument::InjectFault(Fault fault) {
  if (fault == Fault::kVacuumLoss) vacuum_.Break(now_, setup_.timeScale);
  highVoltage_ = false;
}

double SimulatedInstrument::SpecimenDistanceMm() const {
  return stage_.Position(kAxisZ, now_) + truth_.surfaceOffsetMm;
}

double SimulatedInstrument::GunEfficiency() const {
  double squares = 0.0;
  for (std::size_t i = 0; i < gun_.size(); ++i) {
    const double d = gun_[i] - truth_.bestGun[i];
    squares += d * d;
  }
  return std::exp(-squares / (2.0 * kGunAcceptance * kGunAcceptance));
}

// ---- Registration and instrument type ----

SemWindow SimulatedInstrument::GetManagerHandle() { return managerWindow_; }
std::int32_t SimulatedInstrument::SetVeskHandle(SemWindow window) {
  serviceWindow_ = window;
  return 1;
}
std::int32_t SimulatedInstrument::SetWindowHandle(SemWindow window, std::int16_t) {
  serviceWindow_ = window;
  return 1;
}
std::int32_t SimulatedInstrument::GetSemType() { return setup_.instrumentType; }

// ---- High voltage ----

std::int32_t SimulatedInstrument::GetHT() { return highVoltage_ ? 1 : 0; }

std::int32_t SimulatedInstrument::SetHT(std::int16_t state) {
  if (!ranges::kSwitch.Contains(state)) return 0;
  if (state == 1 && VacuumStatusAsReported() != kVacuumReady) return 0;
  highVoltage_ = state == 1;
  return 1;
}

std::int32_t SimulatedInstrument::GetAccv() { return volts_; }

std::int32_t SimulatedInstrument::SetAccvAbs(std::int16_t volts) {
  if (!VoltageRange().Contains(volts)) return 0;
  volts_ = volts;
  return 1;
}

std::int32_t SimulatedInstrument::GetLoadCurrent() {
  return highVoltage_ ? kEmissionUa + (kBleederUaPerKv * volts_ + 500) / 1000 : 0;
}

std::int32_t SimulatedInstrument::GetVacuumStatus() { return vacuum_.Status(now_); }

// ---- Magnification ----

std::int32_t SimulatedInstrument::GetMag() { return magnification_; }

std::int32_t SimulatedInstrument::SetMagAbs(std::int32_t magnification) {
  if (!MagnificationRange().Contains(magnification)) return 0;
  magnification_ = magnification;
  return 1;
}

std::int32_t SimulatedInstrument::SetMagRel(std::int16_t amount) {
  const Range& range = MagnificationRange();
  const std::int32_t next = StepMagnification(magnification_, amount, range.lowest, range.highest);
  if (amount != 0 && next == magnification_) return 0;
  magnification_ = next;
  return 1;
}

// ---- Working distance and lenses ----

std::int32_t SimulatedInstrument::GetWD() { return WorkingDistanceTenths(objective_); }

std::int32_t SimulatedInstrument::SetWD(std::int16_t millimetres) {
  if (!ranges::kWorkingDistanceMm.Contains(millimetres)) return 0;
  objective_ = ObjectiveForDistance(millimetres);
  return 1;
}

std::int32_t SimulatedInstrument::GetCL() { return condenser_; }

std::int32_t SimulatedInstrument::SetCLAbs(std::int16_t value) {
  if (!ranges::kCondenser.Contains(value)) return 0;
  condenser_ = value;
  return 1;
}

std::int32_t SimulatedInstrument::SetCLAbsEx(std::int16_t value) {
  if (!ranges::kCondenserWide.Contains(value)) return 0;
  condenser_ = value;
  return 1;
}

std::int32_t SimulatedInstrument::GetOLCrs() { return objective_ / kObjectiveSpan; }
std::int32_t SimulatedInstrument::GetOLFine() { return objective_ % kObjectiveSpan; }

std::int32_t SimulatedInstrument::SetOLCrsAbs(std::int16_t value) {
  if (!ranges::kLens.Contains(value)) return 0;
  objective_ = value * kObjectiveSpan + GetOLFine();
  return 1;
}

std::int32_t SimulatedInstrument::SetOLCrsRel(std::int16_t amount) {
  std::int32_t coarse = GetOLCrs();
  if (StepWithin(ranges::kLens, coarse, amount) == 0) return 0;
  objective_ = coarse * kObjectiveSpan + GetOLFine();
  return 1;
}

std::int32_t SimulatedInstrument::SetOLFineAbs(std::int16_t value) {
  if (!ranges::kLens.Contains(value)) return 0;
  objective_ = GetOLCrs() * kObjectiveSpan + value;
  return 1;
}

// The fine focus carries over into the coarse one, like a focus knob.
std::int32_t SimulatedInstrument::SetOLFineRel(std::int16_t amount) {
  return StepWithin(Range{0, kObjectiveMax}, objective_, amount);
}

// Lens normalisation: both lenses back to their power-on values.
std::int32_t SimulatedInstrument::OLCLReset() {
  objective_ = ObjectiveForDistance(kDefaultWorkingDistanceMm);
  condenser_ = kDefaultCondenser;
  return 1;
}

// ---- Stigmators ----

std::int32_t SimulatedInstrument::GetStigX() { return stigmator_[0]; }
std::int32_t SimulatedInstrument::GetStigY() { return stigmator_[1]; }

std::int32_t SimulatedInstrument::SetStigXAbs(std::int16_t raw) {
  if (!ranges::kStigmator.Contains(raw)) return 0;
  stigmator_[0] = raw;
  return 1;
}
std::int32_t SimulatedInstrument::SetStigYAbs(std::int16_t raw) {
  if (!ranges::kStigmator.Contains(raw)) return 0;
  stigmator_[1] = raw;
  return 1;
}
std::int32_t SimulatedInstrument::SetStigXFineRel(std::int16_t amount) {
  return StepWithin(ranges::kStigmator, stigmator_[0], amount);
}
std::int32_t SimulatedInstrument::SetStigYFineRel(std::int16_t amount) {
  return StepWithin(ranges::kStigmator, stigmator_[1], amount);
}

// ---- Gun alignment ----

std::int32_t SimulatedInstrument::GetGunAlinShiftX() { return gun_[0]; }
std::int32_t SimulatedInstrument::GetGunAlinShiftY() { return gun_[1]; }
std::int32_t SimulatedInstrument::GetGunAlinTiltX() { return gun_[2]; }
std::int32_t SimulatedInstrument::GetGunAlinTiltY() { return gun_[3]; }

namespace {
std::int32_t SetGun(std::int32_t& channel, std::int16_t raw) {
  if (!ranges::kGunAlignment.Contains(raw)) return 0;
  channel = raw;
  return 1;
}
}  // namespace

std::int32_t SimulatedInstrument::SetGunAlinShiftXAbs(std::int16_t raw) { return SetGun(gun_[0], raw); }
std::int32_t SimulatedInstrument::SetGunAlinShiftYAbs(std::int16_t raw) { return SetGun(gun_[1], raw); }
std::int32_t SimulatedInstrument::SetGunAlinTiltXAbs(std::int16_t raw) { return SetGun(gun_[2], raw); }
std::int32_t SimulatedInstrument::SetGunAlinTiltYAbs(std::int16_t raw) { return SetGun(gun_[3], raw); }

// ---- Blanking, raster rotation, fine image shift ----

std::int32_t SimulatedInstrument::GetBeamBlank() { return blanked_ ? 1 : 0; }

std::int32_t SimulatedInstrument::SetBeamBlank(std::int16_t blanked) {
  if (!ranges::kSwitch.Contains(blanked)) return 0;
  blanked_ = blanked == 1;
  return 1;
}

// Raster rotation is switched on by any angle but zero.
std::int32_t SimulatedInstrument::GetRrd() { return rotationTenths_ != 0 ? 1 : 0; }
std::int32_t SimulatedInstrument::GetRrdAngle() { return rotationTenths_; }

std::int32_t SimulatedInstrument::SetRrdAngleAbs(std::int16_t tenthsOfDegree) {
  if (!ranges::kRotationTenths.Contains(tenthsOfDegree)) return 0;
  rotationTenths_ = tenthsOfDegree;
  return 1;
}

std::int32_t SimulatedInstrument::GetFineShiftX() { return fineShift_[0]; }
std::int32_t SimulatedInstrument::GetFineShiftY() { return fineShift_[1]; }

std::int32_t SimulatedInstrument::SetFineShiftXAbs(std::int16_t raw) {
  if (!FineShiftRange().Contains(raw)) return 0;
  fineShift_[0] = raw;
  return 1;
}
std::int32_t SimulatedInstrument::SetFineShiftYAbs(std::int16_t raw) {
  if (!FineShiftRange().Contains(raw)) return 0;
  fineShift_[1] = raw;
  return 1;
}

}  // namespace vesk::sim
