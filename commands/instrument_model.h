// The instrument model table: which model of the instrument family each
// instrument type (the value of sem_GetSemType) is, and the model's number
// as the packed-BCD code that clients receive.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vesk {

// The 16-bit model code of an instrument type: its four-digit model number
// in packed BCD (0x6380 for model 6380), or nothing for a type without a
// model.
std::optional<std::uint16_t> ModelCodeForInstrumentType(std::int16_t instrumentType);

// InstrumentModelCode: the 16-bit model code in bytes 0 and 1 (most
// significant digits first), bytes 2 and 3 zero; all four bytes zero for a
// type without a model.
using InstrumentModelCode = std::array<std::uint8_t, 4>;
InstrumentModelCode InstrumentModelCodeFor(std::int16_t instrumentType);

// Four decimal digits, one per nibble, most significant digit highest.
constexpr std::uint16_t PackedBcd(std::uint16_t fourDigits) {
  std::uint16_t code = 0;
  for (unsigned shift = 0; shift < 16; shift += 4, fourDigits = static_cast<std::uint16_t>(fourDigits / 10)) {
    code = static_cast<std::uint16_t>(code | ((fourDigits % 10) << shift));
  }
  return code;
}

}  // namespace vesk
