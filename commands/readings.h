// Conversions of library readings shared by several command families.
#pragma once

#include <cstdint>

#include "scope/sem.h"

namespace vesk {

// Callers use the low 16 bits of a getter's result, signed unless noted.
inline std::int16_t Low16(std::int32_t value) { return static_cast<std::int16_t>(value); }
inline std::uint16_t LowU16(std::int32_t value) { return static_cast<std::uint16_t>(value); }

// sem_GetAccv reports volts; the wire carries kilovolts. Both operands are
// exact in single precision, so the quotient is the exact one, rounded once.
inline float AcceleratingVoltageKilovolts() {
  return static_cast<float>(Low16(sem_GetAccv())) / 1000.0f;
}

// sem_GetWD reports tenths of a millimetre; the wire carries millimetres.
inline float WorkingDistanceMillimetres() {
  return static_cast<float>(Low16(sem_GetWD())) / 10.0f;
}

}  // namespace vesk
