#include "sim/profile_file.h"

#include "platform/regular_file.h"
#include "sim/text.h"

#include <cstdio>

namespace vesk::sim {
namespace {

// The profile API reads files of any size; the manager application's file
// holds a handful of settings, so more than this is not a settings file.
constexpr std::size_t kLargestProfile = 1 << 20;

std::string_view Trim(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::optional<std::string> ProfileStringIn(std::string_view text, std::string_view section, std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark from an editor
  bool inSection = false;
  bool sectionSeen = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (inSection) return std::nullopt;  // the first matching section is the one read
      const std::size_t close = line.find(']');
      inSection = !sectionSeen && close != std::string_view::npos && SameName(Trim(line.substr(1, close - 1)), section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameName(Trim(line.substr(0, equals)), key)) {
      return std::string(Unquote(Trim(line.substr(equals + 1))));
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadProfileString(const std::filesystem::path& file, std::string_view section,
                                             std::string_view key) {
  std::string text;
  if (plat::ReadRegularFile(file.string().c_str(), kLargestProfile, &text) != plat::FileRead::kRead) return std::nullopt;
  return ProfileStringIn(text, section, key);
}

}  // namespace vesk::sim
