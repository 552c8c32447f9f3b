#include "sim/image_paths.h"

#include "platform/confined_file.h"

#include <array>
#include <cstdio>
#include <string>
#include <system_error>

namespace vesk::sim {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Bytes from 0x80 up belong to the characters of a converted name; in a
// name that would not convert they are replaced.
bool PortableFileNameByte(unsigned char c, bool converted) {
  if (c >= 0x80) return converted;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  constexpr std::string_view kPunctuation = " !#$%&'()+,-.;=@[]^_`{}~";
  return kPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Names that Windows opens as devices whatever the folder or extension.
bool IsDeviceName(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find('.'));
  std::string upper;
  for (char c : stem) upper.push_back(Upper(c));
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kPlain) {
    if (upper == device) return true;
  }
  return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
         upper[3] >= '0' && upper[3] <= '9';
}

std::string SanitisedComponent(std::string_view raw, bool converted) {
  std::string name;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto c = static_cast<unsigned char>(raw[i]);
    // A control character of the upper half (U+0080 to U+009F in UTF-8)
    // is no more a file name's than one of the lower.
    if (converted && c == 0xC2 && i + 1 < raw.size() && static_cast<unsigned char>(raw[i + 1]) < 0xA0) {
      name.push_back('_');
      ++i;
      continue;
    }
    name.push_back(PortableFileNameByte(c, converted) ? raw[i] : '_');
  }
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  std::size_t lead = 0;
  while (lead < name.size() && name[lead] == ' ') ++lead;
  name.erase(0, lead);
  if (!name.empty() && IsDeviceName(name)) name = "_" + name;
  return name;
}

std::vector<std::string_view> SplitComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// Index of the first component after the path's root: "\\server\share",
// "\\?\", "\\.\", "\\?\UNC\server\share" or nothing. The drive letter is
// handled by the caller.
std::size_t AfterRoot(const std::vector<std::string_view>& parts) {
  if (parts.size() < 3 || !parts[0].empty() || !parts[1].empty()) return 0;
  const std::string_view host = parts[2];
  if (host == "?" || host == ".") {
    if (parts.size() > 3 && parts[3].size() == 3 && Upper(parts[3][0]) == 'U' && Upper(parts[3][1]) == 'N' &&
        Upper(parts[3][2]) == 'C') {
      return 6;  // \\?\UNC\server\share
    }
    return 3;
  }
  return 4;  // \\server\share
}

}  // namespace

std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string GenericUtf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

std::optional<std::filesystem::path> MapControlPcPath(std::string_view originalPath, const char** refusal) {
  const char* unused = nullptr;
  const char*& why = refusal != nullptr ? *refusal : unused;
  std::string text;
  const bool converted = plat::FileNameFromCodePage932(std::string(originalPath), &text);
  const std::string_view windowsPath = converted ? std::string_view(text) : originalPath;
  const std::vector<std::string_view> parts = SplitComponents(windowsPath);
  std::vector<std::string> kept;
  for (std::size_t i = AfterRoot(parts); i < parts.size(); ++i) {
    std::string_view part = parts[i];
    if (kept.empty() && part.size() >= 2 && part[1] == ':' &&
        ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'))) {
      part.remove_prefix(2);  // "C:" or the drive-relative "C:name"
    }
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    if (part.size() > kLongestComponent) {
      why = "a name in it is longer than the folder allows";
      return std::nullopt;
    }
    std::string name = SanitisedComponent(part, converted);
    if (!name.empty()) kept.push_back(std::move(name));
  }
  // A trailing separator or "." names a folder, not a file.
  const bool namesFolder = windowsPath.empty() || IsSeparator(windowsPath.back()) || parts.back() == "." ||
                           parts.back() == ".." || SanitisedComponent(parts.back(), converted).empty();
  if (kept.empty() || namesFolder) {
    why = "it names a folder, not a file";
    return std::nullopt;
  }
  if (kept.size() > kDeepestPath) {
    why = "it lies deeper than the folder allows";
    return std::nullopt;
  }
  std::filesystem::path relative;
  for (const std::string& name : kept) relative /= PathFromUtf8(name);
  return relative;
}

bool WriteConfined(const std::filesystem::path& folder, const std::filesystem::path& relative,
                   const std::vector<std::uint8_t>& bytes) {
  if (relative.empty() || relative.is_absolute() || relative.has_root_name()) return false;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::vector<std::string> names;
  for (const std::filesystem::path& part : relative) names.push_back(Utf8Of(part));
  return plat::WriteFileBelow(Utf8Of(folder).c_str(), names, bytes.data(), bytes.size()) == 1;
}

}  // namespace vesk::sim
