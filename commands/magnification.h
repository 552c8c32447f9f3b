// Magnification family: helpers shared with tests.
#pragma once

#include <array>
#include <cstdint>

namespace vesk {

// The 149 magnifications that an absolute request is snapped to, ascending
// from 5 to 300000.
extern const std::array<std::int32_t, 149> MagnificationSteps;

// On the low-voltage instrument (type 12) absolute requests below this are
// refused rather than raised to the lowest step.
inline constexpr std::int32_t kLowVoltageInstrumentMinimumMagnification = 8;

// Clamps a request to 5 .. 300000, snaps it to the nearest step (ties to the
// higher step) and hands it to the library. False when the instrument type
// refuses the request; then nothing is set.
bool SetMagnification(std::int32_t requested);

}  // namespace vesk
