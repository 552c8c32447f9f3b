// High-voltage family: helpers shared with tests.
#pragma once

#include <array>
#include <cstdint>

namespace vesk {

// The 55 accelerating voltages (volts) that the instrument is set to, from
// the highest down.
extern const std::array<std::int32_t, 55> AcceleratingVoltageSteps;

// Instrument type whose high voltage is limited to 500 V .. 20000 V.
inline constexpr std::int16_t kLowVoltageInstrumentType = 12;

// Clamps a request in kilovolts to the instrument's range, snaps it to the
// nearest step (ties to the higher voltage) and hands it to the library.
// False when the instrument type refuses the request; then nothing is set.
bool SetAcceleratingVoltage(float kilovolts);

}  // namespace vesk
