#include "sim/overrides.h"

#include <charconv>
#include <cstdint>

#include "sim/simulator.h"
#include "sim/text.h"

namespace vesk::sim {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<std::int32_t> ParseValue(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && LowerLetter(text[1]) == 'x') {
    base = 16;
    text.remove_prefix(2);
  }
  std::int64_t value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || status != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (negative) value = -value;
  if (value < INT32_MIN || value > static_cast<std::int64_t>(UINT32_MAX)) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));  // 0xFFFFFFFF is -1
}

void Report(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::optional<SemOp> SemOpFromName(std::string_view name) {
  name = Trim(name);
  if (name.size() > 4 && SameName(name.substr(0, 4), "sem_")) name.remove_prefix(4);
  for (int i = 0; i < kSemOperationCount; ++i) {
    const auto op = static_cast<SemOp>(i);
    if (SameName(name, SemOpName(op))) return op;
  }
  return std::nullopt;
}

bool Overrides::Refuse(std::string_view name, std::string* error) {
  const std::optional<SemOp> op = SemOpFromName(name);
  if (!op) {
    Report(error, "no control-library operation is called \"" + std::string(name) + "\"");
    return false;
  }
  forced_[static_cast<std::size_t>(*op)] = 0;
  return true;
}

bool Overrides::Pin(std::string_view entry, std::string* error) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) {
    Report(error, "a pinned result reads Name=value, not \"" + std::string(entry) + "\"");
    return false;
  }
  const std::optional<SemOp> op = SemOpFromName(entry.substr(0, equals));
  if (!op) {
    Report(error, "no control-library operation is called \"" + std::string(Trim(entry.substr(0, equals))) + "\"");
    return false;
  }
  if (*op == SemOp::GetManagerHandle) {
    Report(error, "GetManagerHandle returns a window; set it with SetManagerWindow");
    return false;
  }
  const std::optional<std::int32_t> value = ParseValue(Trim(entry.substr(equals + 1)));
  if (!value) {
    std::string text = "\"";
    text.append(Trim(entry.substr(equals + 1))).append("\" is not a 32-bit integer");
    Report(error, std::move(text));
    return false;
  }
  forced_[static_cast<std::size_t>(*op)] = *value;
  return true;
}

}  // namespace vesk::sim
