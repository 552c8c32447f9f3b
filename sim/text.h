// Small text helpers of the simulated instrument.
#pragma once

#include <string_view>

namespace vesk::sim {

inline char LowerLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the two names are equal regardless of the case of their
// letters, as the manager application reads its settings and names.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerLetter(a[i]) != LowerLetter(b[i])) return false;
  }
  return true;
}

}  // namespace vesk::sim
