#include "sim/vacuum.h"

#include <cmath>
#include <utility>

namespace vesk::sim {
namespace {

// Durations at a time scale of 1, in milliseconds.
constexpr double kVentingMs = 8000.0;
constexpr double kRoughingMs = 12000.0;
constexpr double kFinePumpingMs = 6000.0;
constexpr double kToLowVacuumMs = 5000.0;
constexpr double kToHighVacuumMs = 8000.0;
constexpr double kPressureRatePaPerS = 40.0;
constexpr std::int32_t kManualStepPa = 10;

}  // namespace

std::int32_t Vacuum::Status(std::int64_t now) const {
  for (std::size_t i = 0; i < phaseCount_; ++i) {
    if (now < phases_[i].until) return phases_[i].status;
  }
  return settled_;
}

void Vacuum::BeginPhases(std::initializer_list<std::pair<std::int32_t, double>> phases, std::int32_t settled,
                         std::int64_t now, double timeScale) {
  phaseCount_ = 0;
  std::int64_t at = now;
  for (const auto& [status, ms] : phases) {
    at += std::llround(ms * timeScale);
    phases_[phaseCount_++] = {status, at};
  }
  settled_ = settled;
}

bool Vacuum::SetMode(std::int32_t mode, std::int64_t now, double timeScale) {
  if (!ranges::kVacuumMode.Contains(mode) || now < SettledAt()) return false;
  if (mode == mode_) return true;
  const std::int32_t from = mode_;
  mode_ = mode;
  if (mode == kVented) {
    BeginPhases({{kVenting, kVentingMs}}, kAtAir, now, timeScale);
  } else if (from == kVented) {
    if (mode == kHighVacuum) {
      BeginPhases({{kRoughing, kRoughingMs}, {kFinePumping, kFinePumpingMs}}, kVacuumReady, now, timeScale);
    } else {
      BeginPhases({{kRoughing, kRoughingMs}}, kVacuumReady, now, timeScale);
    }
  } else {
    BeginPhases({{kFinePumping, mode == kLowVacuum ? kToLowVacuumMs : kToHighVacuumMs}}, kVacuumReady, now,
                timeScale);
  }
  if (mode == kLowVacuum) {
    // The chamber fills to the set point while the mode changes.
    const double setPoint = adjustment_ == kAutomaticPressure ? target_ : manualLevel_;
    pressure_ = {0.0, setPoint, now, SettledAt()};
  }
  return true;
}

void Vacuum::Break(std::int64_t now, double timeScale) {
  if (mode_ == kVented) return;
  BeginPhases({{kRoughing, kRoughingMs}, {kFinePumping, kFinePumpingMs}}, kVacuumReady, now, timeScale);
}

bool Vacuum::SetAdjustment(std::int32_t adjustment, std::int64_t now) {
  if (!ranges::kSwitch.Contains(adjustment)) return false;
  if (adjustment == kManualPressure && adjustment_ != kManualPressure) {
    // Manual control starts from the pressure in the chamber.
    manualLevel_ = ranges::kTargetPressurePa.Clamp(std::lround(Pressure(now)));
  }
  adjustment_ = adjustment;
  return true;
}

bool Vacuum::SetManualStep(std::int32_t step, const Range& pressureRange, std::int64_t now, double timeScale) {
  if (!ranges::kManualPressureStep.Contains(step)) return false;
  manualStep_ = step;
  if (step != 0 && mode_ == kLowVacuum && adjustment_ == kManualPressure) {
    manualLevel_ = pressureRange.Clamp(manualLevel_ + step * kManualStepPa);
    RampTo(manualLevel_, now, timeScale);
  }
  return true;
}

bool Vacuum::SetTarget(std::int32_t pascal, const Range& pressureRange) {
  if (!pressureRange.Contains(pascal)) return false;
  target_ = pascal;
  return true;
}

bool Vacuum::StartSearch(std::int64_t now, double timeScale) {
  if (mode_ != kLowVacuum || !Ready(now) || adjustment_ != kAutomaticPressure) return false;
  RampTo(target_, now, timeScale);
  return true;
}

double Vacuum::Pressure(std::int64_t now) const {
  if (now >= pressure_.end) return pressure_.to;
  if (now <= pressure_.start) return pressure_.from;
  const double fraction =
      static_cast<double>(now - pressure_.start) / static_cast<double>(pressure_.end - pressure_.start);
  return pressure_.from + (pressure_.to - pressure_.from) * fraction;
}

void Vacuum::RampTo(double pascal, std::int64_t now, double timeScale) {
  const double from = Pressure(now);
  const double ms = std::fabs(pascal - from) / kPressureRatePaPerS * 1000.0;
  pressure_ = {from, pascal, now, now + std::llround(ms * timeScale)};
}

std::int32_t Vacuum::ArrivalPressure(std::int64_t now) const {
  return mode_ == kLowVacuum ? static_cast<std::int32_t>(std::lround(Pressure(now))) : 0;
}

}  // namespace vesk::sim
