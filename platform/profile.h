// Private-profile (INI) files: the write half of WritePrivateProfileStringA,
// and where the image-save settings live.
#pragma once

#include <string>

namespace plat {

// WritePrivateProfileStringA(section, key, value, file): sets key=value in
// [section], creating the file, the section or the key when absent and
// replacing the key's value when present. Everything else in the file stays
// as it was: other keys and sections, comments, blank lines and the file's
// line ending (a file that uses CR LF keeps it; a new file gets CR LF).
// (On Windows the file is written by WritePrivateProfileStringA itself,
// which keeps the values and the structure but lays out the lines it
// rewrites its own way: CR LF, names without surrounding blanks.)
// Section and key names are compared without regard to case. A null value
// removes the key; a null key removes the whole section. Returns 1 on
// success, 0 on failure; names or a value holding a line break are refused
// (0), as they would break the file's structure.
int WriteProfileValue(const char* section, const char* key, const char* value, const char* file);

// Removes what an interrupted WriteProfileValue left beside file (its
// temporaries, "<file>.XXXXXX"); for start-up. Returns how many; Windows
// writes leave none.
int RemoveProfileLeftovers(const char* file);

// Whether the folder that holds file exists and takes a new file: tried,
// not read off permissions, which an administrator's rights override.
enum class SettingsFolder { kWritable, kMissing, kNotWritable };
SettingsFolder CheckSettingsFolder(const char* file);
// The folder of file: up to its last separator, "." when it has none.
std::string FolderOf(const char* file);

// Where the image-save settings live on the instrument's computer.
inline constexpr char kWindowsImageSaveSettingsPath[] = "C:\\SEM\\seminfo.ini";

// The image-save settings file: kWindowsImageSaveSettingsPath on Windows. On POSIX
// the path is configurable; it defaults to "seminfo.ini" in the working
// directory.
const char* ImageSaveSettingsPath();
// Start-up only, before any thread reads the path.
void SetImageSaveSettingsPath(const char* path);

}  // namespace plat
