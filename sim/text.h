// Small text helpers of the simulated instrument.
#pragma once

#include <string_view>

namespace vesk::sim {

// True when `text` equals `upper` (written in capitals) regardless of the
// case of its letters, as the manager application reads its settings.
inline bool SameLetters(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
    if (c != upper[i]) return false;
  }
  return true;
}

}  // namespace vesk::sim
