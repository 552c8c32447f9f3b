// Wire encodings: big-endian integers and WireFloat, the IEEE-754 single
// whose four bytes travel most significant first.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace vesk {

using WireFloat = std::array<std::uint8_t, 4>;

inline std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::int16_t ReadS16(const std::uint8_t* p) { return static_cast<std::int16_t>(ReadU16(p)); }
inline std::uint32_t ReadU32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline std::int32_t ReadS32(const std::uint8_t* p) { return static_cast<std::int32_t>(ReadU32(p)); }

inline void WriteU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void WriteS16(std::uint8_t* p, std::int16_t v) { WriteU16(p, static_cast<std::uint16_t>(v)); }
inline void WriteU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}
inline void WriteS32(std::uint8_t* p, std::int32_t v) { WriteU32(p, static_cast<std::uint32_t>(v)); }

// The bit pattern is carried over exactly (NaN payloads and denormals too):
// only the byte order changes, never the value.
inline WireFloat FloatToWire(float value) {
  WireFloat wire{};
  WriteU32(wire.data(), std::bit_cast<std::uint32_t>(value));
  return wire;
}
inline float FloatFromWire(const std::uint8_t* wire) { return std::bit_cast<float>(ReadU32(wire)); }
inline float FloatFromWire(const WireFloat& wire) { return FloatFromWire(wire.data()); }

}  // namespace vesk
