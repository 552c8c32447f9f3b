// The vacuum system: mode changes and pump-downs pass through timed phases,
// and in low vacuum the chamber pressure follows its set point at a finite
// rate. Like the stage, all of it is a closed form of the time.
#pragma once

#include <array>
#include <initializer_list>
#include <utility>
#include <cstdint>

#include "sim/ranges.h"

namespace vesk::sim {

enum VacuumMode : std::int32_t { kHighVacuum = 0, kLowVacuum = 1, kVented = 2 };
enum VacuumStatus : std::int32_t { kAtAir = 0, kVenting = 1, kRoughing = 2, kFinePumping = 3, kVacuumReady = 4 };
enum PressureAdjustment : std::int32_t { kManualPressure = 0, kAutomaticPressure = 1 };

class Vacuum {
 public:
  std::int32_t Mode() const { return mode_; }
  std::int32_t Status(std::int64_t now) const;
  bool Ready(std::int64_t now) const { return Status(now) == kVacuumReady; }
  // Refused out of range and while a change is still under way.
  bool SetMode(std::int32_t mode, std::int64_t now, double timeScale);
  // The vacuum breaks down and the pumps start again from rough vacuum.
  void Break(std::int64_t now, double timeScale);

  std::int32_t Adjustment() const { return adjustment_; }
  bool SetAdjustment(std::int32_t adjustment, std::int64_t now);
  std::int32_t ManualStep() const { return manualStep_; }
  // -1 lowers, +1 raises the manual set point by one step; 0 holds.
  bool SetManualStep(std::int32_t step, const Range& pressureRange, std::int64_t now, double timeScale);
  std::int32_t Target() const { return target_; }
  bool SetTarget(std::int32_t pascal, const Range& pressureRange);
  // Automatic pressure search toward the target: low vacuum, ready, automatic.
  bool StartSearch(std::int64_t now, double timeScale);
  // Chamber pressure in Pa in low vacuum; 0 otherwise (below the gauge's
  // range in high vacuum, not measured at air).
  std::int32_t ArrivalPressure(std::int64_t now) const;
  static constexpr std::int32_t kOrificeDiameterUm = 500;

 private:
  struct Phase {
    std::int32_t status;
    std::int64_t until;
  };
  struct Ramp {
    double from = 0.0;
    double to = 0.0;
    std::int64_t start = 0;
    std::int64_t end = 0;
  };
  void BeginPhases(std::initializer_list<std::pair<std::int32_t, double>> phases, std::int32_t settled,
                   std::int64_t now, double timeScale);
  std::int64_t SettledAt() const { return phaseCount_ == 0 ? 0 : phases_[phaseCount_ - 1].until; }
  double Pressure(std::int64_t now) const;
  void RampTo(double pascal, std::int64_t now, double timeScale);

  std::int32_t mode_ = kHighVacuum;
  std::array<Phase, 2> phases_{};
  std::size_t phaseCount_ = 0;
  std::int32_t settled_ = kVacuumReady;
  std::int32_t adjustment_ = kAutomaticPressure;
  std::int32_t manualStep_ = 0;
  std::int32_t manualLevel_ = 50;
  std::int32_t target_ = 50;
  Ramp pressure_{};
};

}  // namespace vesk::sim
