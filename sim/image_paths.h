// Where a capture lands. Clients name files on the control PC, with drive
// letters or on network shares; the simulated manager application puts
// every one of them below its single image folder and nowhere else.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::sim {

// The control-PC path as a path relative to the image folder: drive letter,
// UNC server and share and device prefixes dropped, "." and ".." resolved
// without ever climbing above the folder, every byte outside a portable
// file-name set replaced by '_', trailing dots and spaces removed, device
// names (CON, NUL, COM1...) prefixed with '_'. Nothing when the path names
// no file (empty, ends in a separator) or has a component or depth beyond
// the limits; *refusal (when given) then says why. Names in code page 932
// keep their characters, so two Japanese names never become one file.
std::optional<std::filesystem::path> MapControlPcPath(std::string_view windowsPath, const char** refusal = nullptr);

// Paths and UTF-8 text, whatever the host's narrow code page: the path
// class reads a plain string in that code page on Windows.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8Of(const std::filesystem::path& path);
std::string GenericUtf8Of(const std::filesystem::path& path);  // with '/' between names

inline constexpr std::size_t kLongestComponent = 128;
inline constexpr std::size_t kDeepestPath = 16;

// Writes bytes to folder/relative, creating the folders in between. Every
// folder on the way must be a real folder (a symbolic link there refuses
// the write), each opened from the one before it so that no change of the
// folders meanwhile can lead the write outside; the file appears whole or
// not at all (written under a temporary name, then renamed). relative must
// come from MapControlPcPath.
bool WriteConfined(const std::filesystem::path& folder, const std::filesystem::path& relative,
                   const std::vector<std::uint8_t>& bytes);

}  // namespace vesk::sim
