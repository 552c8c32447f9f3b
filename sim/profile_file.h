// A reader for private-profile (INI) files as the Windows profile API
// writes them: "[section]" lines and "key=value" lines.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::sim {

// The value of key in section, read the way the profile API reads it:
// section and key names compared without letter case, the first matching
// section and the first matching key in it win, the value trimmed of spaces
// and tabs and of one pair of enclosing quotes. Lines starting with ';' are
// comments. Nothing when the file, section or key is missing.
std::optional<std::string> ProfileStringIn(std::string_view text, std::string_view section, std::string_view key);
// The same, from the file.
std::optional<std::string> ReadProfileString(const std::filesystem::path& file, std::string_view section,
                                             std::string_view key);

}  // namespace vesk::sim
