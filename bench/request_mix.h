// The requests both servers are measured with: cheap reads and one
// idempotent set, all answered at once on the simulator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk::bench {

struct MixEntry {
  char code[5];
  std::uint8_t body[4];
  std::uint16_t bodySize;
};

inline constexpr MixEntry kRequestMix[] = {
    {"FXSR", {}, 0},                         // high-voltage status
    {"EMGS", {0x00, 0x00, 0x03, 0xE8}, 4},   // magnification 1000
    {"EXSR", {}, 0},                         // optics snapshot
    {"WSTR", {}, 0},                         // stage status
    {"DDSR", {}, 0},                         // detector items
    {"FLVR", {}, 0},                         // vacuum status
};
inline constexpr std::size_t kRequestMixSize = sizeof kRequestMix / sizeof kRequestMix[0];

}  // namespace vesk::bench
