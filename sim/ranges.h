// The simulated instrument's ranges, in the library's own units. Setters
// refuse values outside them; relative setters clamp at their ends.
#pragma once

#include <cstdint>

namespace vesk::sim {

// An inclusive range of library values.
struct Range {
  std::int32_t lowest;
  std::int32_t highest;

  constexpr bool Contains(std::int64_t value) const { return value >= lowest && value <= highest; }
  constexpr std::int32_t Clamp(std::int64_t value) const {
    return static_cast<std::int32_t>(value < lowest ? lowest : value > highest ? highest : value);
  }
};

// One relative change of value by step within range: clamps at the ends,
// and refuses (0) only a step that cannot move the value at all because it
// already sits at the end the step pushes toward. A zero step is accepted.
inline std::int32_t StepWithin(const Range& range, std::int32_t& value, std::int64_t step) {
  if (step == 0) return 1;
  const std::int32_t moved = range.Clamp(value + step);
  if (moved == value) return 0;
  value = moved;
  return 1;
}

namespace ranges {
inline constexpr Range kSwitch{0, 1};                  // HT, blanking, freeze, PCD, modes
inline constexpr Range kAcceleratingVolts{300, 30000};
inline constexpr Range kAcceleratingVoltsType12{500, 20000};
inline constexpr Range kMagnification{5, 300000};
inline constexpr Range kMagnificationType12{8, 300000};
inline constexpr Range kWorkingDistanceMm{5, 48};
inline constexpr Range kCondenser{0, 4095};            // SetCLAbs
inline constexpr Range kCondenserWide{0, 9999};        // SetCLAbsEx
inline constexpr Range kLens{0, 4095};                 // objective coarse and fine
inline constexpr Range kStigmator{0, 4095};
inline constexpr Range kGunAlignment{0, 255};
inline constexpr Range kFineShift{0, 4095};
inline constexpr Range kFineShiftType1{0, 1310};
inline constexpr Range kRotationTenths{-1800, 1800};   // raster rotation, tenths of a degree
inline constexpr Range kAsdMode{0, 3};
inline constexpr Range kDetectorItem{0, 14};
inline constexpr Range kDetectorValue{0, 4095};
inline constexpr Range kIms{0, 4095};
inline constexpr Range kScanSpeed{0, 3};
inline constexpr Range kVacuumMode{0, 2};              // high vacuum, low vacuum, vented
inline constexpr Range kManualPressureStep{-1, 1};
inline constexpr Range kTargetPressurePa{1, 270};
inline constexpr Range kTargetPressurePaType12{1, 100};
inline constexpr Range kJoystickDeflection{-100, 100};  // percent
inline constexpr Range kJoystickSpeed{0, 100};          // percent of the axis speed
}  // namespace ranges

// Relative step sizes, in library units per step.
inline constexpr std::int32_t kContrastStep = 64;
inline constexpr std::int32_t kContrastFineStep = 4;

}  // namespace vesk::sim
