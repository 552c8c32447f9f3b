#include "sim/stage.h"

#include <cmath>

#include "sim/ranges.h"

namespace vesk::sim {
namespace {

constexpr double kStartPosition[kStageAxes] = {0.0, 0.0, 10.0, 0.0, 0.0};

double Wrap360(double degrees) {
  const double wrapped = std::fmod(degrees, 360.0);
  return wrapped < 0.0 ? wrapped + 360.0 : wrapped;
}

const AxisTravel& TravelOf(int axis) { return kAxisTravel[static_cast<std::size_t>(axis)]; }

bool WithinLimits(int axis, double value) {
  const AxisTravel& travel = TravelOf(axis);
  return std::isfinite(value) && value >= travel.lowest && value <= travel.highest;
}

}  // namespace

Stage::Stage() {
  for (int axis = 0; axis < kStageAxes; ++axis) {
    motion_[static_cast<std::size_t>(axis)].from = kStartPosition[axis];
    motion_[static_cast<std::size_t>(axis)].to = kStartPosition[axis];
  }
}

double Stage::Unwrapped(int axis, std::int64_t now) const {
  const Motion& m = motion_[static_cast<std::size_t>(axis)];
  if (now >= m.end) return m.to;
  if (now <= m.start) return m.from;
  const double fraction = static_cast<double>(now - m.start) / static_cast<double>(m.end - m.start);
  return m.from + (m.to - m.from) * fraction;
}

double Stage::Position(int axis, std::int64_t now) const {
  const double value = Unwrapped(axis, now);
  return TravelOf(axis).endless ? Wrap360(value) : value;
}

void Stage::Start(int axis, double from, double to, double speedFactor, std::int64_t now, double timeScale) {
  const AxisTravel& travel = TravelOf(axis);
  Faults& faults = faults_[static_cast<std::size_t>(axis)];
  if (to != from) faults.lag = (to > from ? 0.5 : -0.5) * faults.backlash;
  if (faults.stalled) {
    faults.pending = to != from;
    faults.pendingTarget = to;
    motion_[static_cast<std::size_t>(axis)] = {from, from, now, now, speedFactor};
    return;
  }
  faults.pending = false;
  const double seconds = std::fabs(to - from) / (travel.speedPerSecond * speedFactor * faults.slowdown);
  motion_[static_cast<std::size_t>(axis)] = {from, to, now, now + std::llround(seconds * 1000.0 * timeScale),
                                             speedFactor};
}

void Stage::Halt(int axis, std::int64_t now) {
  const double here = Unwrapped(axis, now);
  motion_[static_cast<std::size_t>(axis)] = {here, here, now, now, 1.0};
  faults_[static_cast<std::size_t>(axis)].pending = false;
}

void Stage::Stall(int axis, std::int64_t now) {
  Faults& faults = faults_[static_cast<std::size_t>(axis)];
  const Motion& m = motion_[static_cast<std::size_t>(axis)];
  if (now < m.end) {
    faults.pending = true;
    faults.pendingTarget = m.to;
  }
  const double here = Unwrapped(axis, now);
  motion_[static_cast<std::size_t>(axis)] = {here, here, now, now, m.speedFactor};
  faults.stalled = true;
}

// A motion under way goes on from where it is at the new speed.
void Stage::Slow(int axis, double factor, std::int64_t now, double timeScale) {
  faults_[static_cast<std::size_t>(axis)].slowdown = factor;
  const Motion m = motion_[static_cast<std::size_t>(axis)];
  if (now < m.end) Start(axis, Unwrapped(axis, now), m.to, m.speedFactor, now, timeScale);
}

void Stage::Release(int axis, std::int64_t now, double timeScale) {
  Faults& faults = faults_[static_cast<std::size_t>(axis)];
  faults.stalled = false;
  const Motion m = motion_[static_cast<std::size_t>(axis)];
  if (faults.pending) {
    faults.slowdown = 1.0;
    Start(axis, Unwrapped(axis, now), faults.pendingTarget, m.speedFactor, now, timeScale);
  } else {
    Slow(axis, 1.0, now, timeScale);
  }
}

double Stage::Drift(int axis, std::int64_t now) const {
  const Faults& faults = faults_[static_cast<std::size_t>(axis)];
  return faults.driftBase + faults.driftPerMs * static_cast<double>(now - faults.driftSince);
}

void Stage::SetDrift(int axis, double umPerSecond, std::int64_t now) {
  Faults& faults = faults_[static_cast<std::size_t>(axis)];
  faults.driftBase = Drift(axis, now);
  faults.driftSince = now;
  faults.driftPerMs = umPerSecond / 1000.0 / 1000.0;  // um/s to mm/ms
}

double Stage::SpecimenPosition(int axis, std::int64_t now) const {
  return Position(axis, now) - faults_[static_cast<std::size_t>(axis)].lag + Drift(axis, now);
}

bool Stage::MoveAbsolute(const StagePositionRecord& target, std::int64_t now, double timeScale) {
  for (int axis = 0; axis < kStageAxes; ++axis) {
    if (target.axisWord[axis] != 0 && !WithinLimits(axis, target.value[axis])) return false;
  }
  for (int axis = 0; axis < kStageAxes; ++axis) {
    if (target.axisWord[axis] == 0) continue;
    // The endless axis goes straight to the target, not across 0/360.
    Start(axis, Position(axis, now), target.value[axis], 1.0, now, timeScale);
  }
  return true;
}

bool Stage::MoveRelative(const StagePositionRecord& distance, std::int64_t now, double timeScale) {
  for (int axis = 0; axis < kStageAxes; ++axis) {
    if (distance.axisWord[axis] == 0) continue;
    const double d = distance.value[axis];
    if (!std::isfinite(d)) return false;
    if (!TravelOf(axis).endless && !WithinLimits(axis, Unwrapped(axis, now) + d)) {
      return false;
    }
  }
  for (int axis = 0; axis < kStageAxes; ++axis) {
    if (distance.axisWord[axis] == 0) continue;
    const double from = Position(axis, now);
    Start(axis, from, from + distance.value[axis], 1.0, now, timeScale);
  }
  return true;
}

bool Stage::Joystick(std::int32_t x, std::int32_t y, std::int32_t speed, std::int64_t now, double timeScale) {
  if (!ranges::kJoystickDeflection.Contains(x) || !ranges::kJoystickDeflection.Contains(y) ||
      !ranges::kJoystickSpeed.Contains(speed)) {
    return false;
  }
  const std::int32_t deflection[] = {x, y};
  for (int axis = kAxisX; axis <= kAxisY; ++axis) {
    const std::int32_t d = deflection[axis];
    if (d == 0 || speed == 0) {
      Halt(axis, now);
      continue;
    }
    const AxisTravel& travel = TravelOf(axis);
    const double factor = (std::abs(d) / 100.0) * (speed / 100.0);
    Start(axis, Position(axis, now), d > 0 ? travel.highest : travel.lowest, factor, now, timeScale);
  }
  return true;
}

void Stage::StopLinearAndTilt(std::int64_t now) {
  for (int axis = kAxisX; axis <= kAxisTilt; ++axis) Halt(axis, now);
}

void Stage::StopRotation(std::int64_t now) { Halt(kAxisRotation, now); }

bool Stage::AxisMoving(int axis, std::int64_t now) const {
  return now < motion_[static_cast<std::size_t>(axis)].end || faults_[static_cast<std::size_t>(axis)].pending;
}

bool Stage::Moving(std::int64_t now) const {
  for (int axis = 0; axis < kStageAxes; ++axis) {
    if (AxisMoving(axis, now)) return true;
  }
  return false;
}

void Stage::FillInfo(StageInfoRecord& info, std::int64_t now) const {
  for (int axis = 0; axis < kStageAxes; ++axis) {
    const AxisTravel& travel = TravelOf(axis);
    const Motion& m = motion_[static_cast<std::size_t>(axis)];
    const Faults& faults = faults_[static_cast<std::size_t>(axis)];
    const double position = Position(axis, now);
    const bool moving = AxisMoving(axis, now);
    std::uint16_t status = kAxisEnabled;
    if (moving) status |= kAxisMoving;
    if (!travel.endless && position <= travel.lowest) status |= kAxisAtLowerLimit;
    if (!travel.endless && position >= travel.highest) status |= kAxisAtUpperLimit;
    info.axisStatus[axis] = status;
    const double target = faults.pending ? faults.pendingTarget : m.to;
    info.stageValue[axis] = static_cast<float>(travel.endless ? Wrap360(target) : target);
    const double speed = now < m.end ? std::fabs(m.to - m.from) * 1000.0 / static_cast<double>(m.end - m.start) : 0.0;
    info.stageValue[kStageAxes + axis] = static_cast<float>(speed);
    info.position[axis] = static_cast<float>(position);
  }
}

}  // namespace vesk::sim
