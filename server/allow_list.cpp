#include "server/allow_list.h"

#include <cstddef>

namespace vesk {
namespace {

// Up to maxDigits decimal digits, at most `high`; no signs, no spaces.
bool ParseSmallNumber(const std::string& text, std::size_t maxDigits, std::uint32_t high, std::uint32_t* value) {
  if (text.empty() || text.size() > maxDigits) return false;
  std::uint32_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (number > high) return false;
  *value = number;
  return true;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r' || c == '\n'; }

}  // namespace

bool ParseIPv4(const std::string& text, std::uint32_t* address) {
  std::uint32_t result = 0;
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.', start);
    if ((part < 3) == (dot == std::string::npos)) return false;
    std::uint32_t octet = 0;
    if (!ParseSmallNumber(text.substr(start, dot - start), 3, 255, &octet)) return false;
    result = result << 8 | octet;
    start = dot + 1;
  }
  *address = result;
  return true;
}

bool AllowList::Add(const std::string& entry) {
  const std::size_t slash = entry.find('/');
  std::uint32_t address = 0;
  std::uint32_t bits = 32;
  if (!ParseIPv4(entry.substr(0, slash), &address)) return false;
  if (slash != std::string::npos && !ParseSmallNumber(entry.substr(slash + 1), 2, 32, &bits)) return false;
  const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
  rules_.push_back(Rule{address & mask, mask});
  return true;
}

bool AllowList::AddAll(const std::string& list, std::string* bad) {
  std::size_t at = 0;
  while (at < list.size()) {
    if (IsSeparator(list[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < list.size() && !IsSeparator(list[end])) ++end;
    const std::string entry = list.substr(at, end - at);
    if (!Add(entry)) {
      if (bad != nullptr) *bad = entry;
      return false;
    }
    at = end;
  }
  return true;
}

bool AllowList::Allows(std::uint32_t address) const {
  if (rules_.empty()) return true;
  for (const Rule& rule : rules_) {
    if ((address & rule.mask) == rule.network) return true;
  }
  return false;
}

}  // namespace vesk
