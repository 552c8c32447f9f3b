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
  const double seconds = std::fabs(to - from) / (travel.speedPerSecond * speedFactor);
  motion_[static_cast<std::size_t>(axis)] = {from, to, now, now + std::llround(seconds * 1000.0 * timeScale)};
}

void Stage::Halt(int axis, std::int64_t now) {
  const double here = Unwrapped(axis, now);
  motion_[static_cast<std::size_t>(axis)] = {here, here, now, now};
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

bool Stage::Moving(std::int64_t now) const {
  for (const Motion& m : motion_) {
    if (now < m.end) return true;
  }
  return false;
}

void Stage::FillInfo(StageInfoRecord& info, std::int64_t now) const {
  for (int axis = 0; axis < kStageAxes; ++axis) {
    const AxisTravel& travel = TravelOf(axis);
    const Motion& m = motion_[static_cast<std::size_t>(axis)];
    const double position = Position(axis, now);
    const bool moving = now < m.end;
    std::uint16_t status = kAxisEnabled;
    if (moving) status |= kAxisMoving;
    if (!travel.endless && position <= travel.lowest) status |= kAxisAtLowerLimit;
    if (!travel.endless && position >= travel.highest) status |= kAxisAtUpperLimit;
    info.axisStatus[axis] = status;
    info.stageValue[axis] = static_cast<float>(travel.endless ? Wrap360(m.to) : m.to);
    const double speed = moving ? std::fabs(m.to - m.from) * 1000.0 / static_cast<double>(m.end - m.start) : 0.0;
    info.stageValue[kStageAxes + axis] = static_cast<float>(speed);
    info.position[axis] = static_cast<float>(position);
  }
}

}  // namespace vesk::sim
