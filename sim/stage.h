// The specimen stage: five axes in the library's order (X, Y, Z, tilt,
// rotation), each moving at its own finite speed within its limits. A motion
// is kept as (from, to, start, end), so every position is a closed form of
// the time and nothing needs ticking.
#pragma once

#include <array>
#include <cstdint>

#include "scope/sem_records.h"

namespace vesk::sim {

enum StageAxis : int { kAxisX, kAxisY, kAxisZ, kAxisTilt, kAxisRotation };

// How far and how fast one stage axis moves.
struct AxisTravel {
  double lowest;
  double highest;
  double speedPerSecond;  // mm/s or degrees/s at a time scale of 1
  bool endless;           // rotation: turns on, positions read modulo 360
};

// X, Y in mm; Z in mm (the specimen's distance below the objective);
// tilt and rotation in degrees.
inline constexpr std::array<AxisTravel, kStageAxes> kAxisTravel = {{
    {-40.0, 40.0, 4.0, false},
    {-40.0, 40.0, 4.0, false},
    {5.0, 48.0, 1.0, false},
    {-10.0, 90.0, 3.0, false},
    {0.0, 360.0, 10.0, true},
}};

// Bits of an axis status word in the stage information record.
inline constexpr std::uint16_t kAxisEnabled = 0x0001;
inline constexpr std::uint16_t kAxisAtLowerLimit = 0x0002;
inline constexpr std::uint16_t kAxisAtUpperLimit = 0x0004;
inline constexpr std::uint16_t kAxisMoving = kAxisFlagMask;  // bit 8

class Stage {
 public:
  Stage();

  // Axes whose axis word is non-zero move; the others keep going as they
  // were. Refused whole (false) when any target is not finite or lies
  // outside its axis's limits.
  bool MoveAbsolute(const StagePositionRecord& target, std::int64_t now, double timeScale);
  bool MoveRelative(const StagePositionRecord& distance, std::int64_t now, double timeScale);
  // Joystick: X and Y deflections in percent, and a speed in percent of the
  // axis speed; an axis with zero deflection (or zero speed) stops.
  bool Joystick(std::int32_t x, std::int32_t y, std::int32_t speed, std::int64_t now, double timeScale);
  // StopStage halts X, Y, Z and tilt; StopStageR halts the rotation.
  void StopLinearAndTilt(std::int64_t now);
  void StopRotation(std::int64_t now);

  // Scripted faults. A stalled axis stays where it is; a move of it is
  // accepted and reads moving until it is stopped or the stall lifts, when
  // it goes on. A slowed axis moves at factor times its speed. Release ends
  // both.
  void Stall(int axis, std::int64_t now);
  void Slow(int axis, double factor, std::int64_t now, double timeScale);
  void Release(int axis, std::int64_t now, double timeScale);
  // Drift (the specimen creeping on its holder) and backlash (slack taken
  // up whenever an axis reverses) move the specimen under the beam but not
  // the positions the stage reads.
  void SetDrift(int axis, double umPerSecond, std::int64_t now);
  void SetBacklash(int axis, double amount) { faults_[static_cast<std::size_t>(axis)].backlash = amount; }
  // Where the specimen is under the beam, in the units of the axis.
  double SpecimenPosition(int axis, std::int64_t now) const;

  bool Moving(std::int64_t now) const;
  // As reported: rotation in [0, 360).
  double Position(int axis, std::int64_t now) const;
  // Status words; stage values 0-4: the axes' targets, 5-9: their current
  // speeds (units per second, 0 when still); positions.
  void FillInfo(StageInfoRecord& info, std::int64_t now) const;

 private:
  struct Motion {
    double from = 0.0;
    double to = 0.0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    double speedFactor = 1.0;  // as commanded (the joystick's deflection)
  };
  struct Faults {
    bool stalled = false;
    bool pending = false;  // a move held by the stall
    double pendingTarget = 0.0;
    double slowdown = 1.0;
    double driftPerMs = 0.0;  // axis units per millisecond
    double driftBase = 0.0;
    std::int64_t driftSince = 0;
    double backlash = 0.0;
    double lag = 0.0;  // the specimen behind the motor, half the backlash either way
  };
  double Unwrapped(int axis, std::int64_t now) const;
  void Start(int axis, double from, double to, double speedFactor, std::int64_t now, double timeScale);
  void Halt(int axis, std::int64_t now);
  bool AxisMoving(int axis, std::int64_t now) const;
  double Drift(int axis, std::int64_t now) const;

  std::array<Motion, kStageAxes> motion_{};
  std::array<Faults, kStageAxes> faults_{};
};

}  // namespace vesk::sim
