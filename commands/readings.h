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

inline std::int16_t InstrumentType() { return Low16(sem_GetSemType()); }

// A setting that the library keeps as an unsigned raw value and the wire
// carries centred on zero (wire = raw - centre), accepted on the wire from
// lowest to highest inclusive.
struct CentredScale {
  std::int16_t centre;
  std::int16_t lowest;
  std::int16_t highest;
};

inline constexpr CentredScale kGunAlignmentScale{128, -128, 127};  // raw 0 .. 255
inline constexpr CentredScale kStigmatorScale{2048, -2048, 2047};  // raw 0 .. 4095
inline constexpr CentredScale kFineShiftScale{2048, -2048, 2047};  // raw 0 .. 4095
// Instrument type 1 has a narrower fine shift: raw 0 .. 1310, symmetric.
inline constexpr std::int16_t kNarrowFineShiftInstrumentType = 1;
inline constexpr CentredScale kNarrowFineShiftScale{655, -655, 655};

inline CentredScale FineShiftScaleFor(std::int16_t instrumentType) {
  return instrumentType == kNarrowFineShiftInstrumentType ? kNarrowFineShiftScale : kFineShiftScale;
}

// Subtracted in signed arithmetic and sent as a signed 16-bit value.
inline std::int16_t Centred(std::int32_t raw, CentredScale scale) {
  return static_cast<std::int16_t>(Low16(raw) - scale.centre);
}
inline bool WithinScale(std::int16_t wire, CentredScale scale) {
  return wire >= scale.lowest && wire <= scale.highest;
}
inline std::int16_t RawValue(std::int16_t wire, CentredScale scale) {
  return static_cast<std::int16_t>(wire + scale.centre);
}

struct GunAlignment {
  std::int16_t tiltX;
  std::int16_t tiltY;
  std::int16_t shiftX;
  std::int16_t shiftY;
};

// Always read in the order tilt X, tilt Y, shift X, shift Y (a braced list
// is evaluated left to right).
inline GunAlignment ReadGunAlignment() {
  return GunAlignment{Centred(sem_GetGunAlinTiltX(), kGunAlignmentScale),
                      Centred(sem_GetGunAlinTiltY(), kGunAlignmentScale),
                      Centred(sem_GetGunAlinShiftX(), kGunAlignmentScale),
                      Centred(sem_GetGunAlinShiftY(), kGunAlignmentScale)};
}

inline std::int16_t StigmatorX() { return Centred(sem_GetStigX(), kStigmatorScale); }
inline std::int16_t StigmatorY() { return Centred(sem_GetStigY(), kStigmatorScale); }

// The objective lens as one number: the fine value spans 12 bits below the
// coarse value. The lens readings are unsigned 16-bit raw values.
inline std::uint32_t CombinedObjectiveValue(std::uint16_t coarse, std::uint16_t fine) {
  return std::uint32_t{coarse} * 4096u + fine;
}

}  // namespace vesk
