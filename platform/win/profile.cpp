// Private-profile writes on Windows: WritePrivateProfileStringA itself,
// behind the same refusals as on every platform (names or values that would
// break the file's structure).
#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace plat {
namespace {

std::string settingsPath = kWindowsImageSaveSettingsPath;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool HasLineBreak(const char* text) { return text != nullptr && std::strpbrk(text, "\r\n") != nullptr; }

bool Acceptable(const char* section, const char* key, const char* value) {
  if (section == nullptr || Trim(section).empty() || std::strchr(section, ']') != nullptr) return false;
  if (key != nullptr && (Trim(key).empty() || std::strchr(key, '=') != nullptr)) return false;
  return !HasLineBreak(section) && !HasLineBreak(key) && !HasLineBreak(value);
}

}  // namespace

int WriteProfileValue(const char* section, const char* key, const char* value, const char* file) {
  if (file == nullptr || file[0] == '\0' || !Acceptable(section, key, value)) return 0;
  return ::WritePrivateProfileStringA(section, key, value, file) != FALSE ? 1 : 0;
}

int RemoveProfileLeftovers(const char*) { return 0; }

const char* ImageSaveSettingsPath() { return settingsPath.c_str(); }

void SetImageSaveSettingsPath(const char* path) { settingsPath = path != nullptr ? path : ""; }

}  // namespace plat
