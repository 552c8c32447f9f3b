// The requests both servers are measured with: cheap reads (and one
// idempotent set) that return at once on the simulator, with the reply
// length VESK gives each, so the floor server can answer alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesk::bench {

struct MixEntry {
  char code[5];
  std::uint8_t body[4];
  std::uint16_t bodySize;
  std::uint16_t replyLength;  // header included
};

inline constexpr MixEntry kRequestMix[] = {
    {"FXSR", {}, 0, 70},                         // high-voltage status
    {"EMGS", {0x00, 0x00, 0x03, 0xE8}, 4, 20},   // magnification 1000
    {"EXSR", {}, 0, 130},                        // optics snapshot
    {"WSTR", {}, 0, 38},                         // stage status
    {"DDSR", {}, 0, 46},                         // detector items
    {"FLVR", {}, 0, 26},                         // vacuum status
};
inline constexpr std::size_t kRequestMixSize = sizeof kRequestMix / sizeof kRequestMix[0];

// The reply length for a code of the mix, or 0 for any other code.
inline std::uint16_t MixReplyLength(const std::uint8_t* code) {
  for (const MixEntry& entry : kRequestMix) {
    if (code[0] == entry.code[0] && code[1] == entry.code[1] && code[2] == entry.code[2] &&
        code[3] == entry.code[3]) {
      return entry.replyLength;
    }
  }
  return 0;
}

}  // namespace vesk::bench
