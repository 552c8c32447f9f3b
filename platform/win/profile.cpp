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

SettingsFolder CheckSettingsFolder(const char* file) {
  const std::string folder = FolderOf(file);
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return SettingsFolder::kMissing;
  }
  char probe[MAX_PATH + 16] = {};  // GetTempFileNameA creates the file
  if (folder.size() > MAX_PATH - 14 || ::GetTempFileNameA(folder.c_str(), "vsk", 0, probe) == 0) {
    return SettingsFolder::kNotWritable;
  }
  ::DeleteFileA(probe);
  return SettingsFolder::kWritable;
}

const char* ImageSaveSettingsPath() { return settingsPath.c_str(); }

void SetImageSaveSettingsPath(const char* path) { settingsPath = path != nullptr ? path : ""; }

}  // namespace plat
