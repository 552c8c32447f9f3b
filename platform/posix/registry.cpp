// The registry on POSIX: a registry editor export file, read afresh each
// time a key is opened. Text is handled as UTF-8 (files saved as UTF-16 with
// a byte-order mark, as the registry editor writes them, are converted), so
// a string value reads back as its UTF-8 bytes and a NUL.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/regular_file.h"

namespace plat {

namespace {

constexpr std::uint32_t kRegString = 1;    // REG_SZ
constexpr std::uint32_t kRegExpand = 2;    // REG_EXPAND_SZ
constexpr std::uint32_t kRegBinary = 3;    // REG_BINARY
constexpr std::uint32_t kRegDword = 4;     // REG_DWORD
constexpr std::uint32_t kRegMulti = 7;     // REG_MULTI_SZ

struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};
using ValueMap = std::map<std::string, RegistryValue>;  // by lower-cased name

struct ParsedRegistry {
  bool valid = false;
  const char* problem = "is not a registry export file";
  std::map<std::string, ValueMap> keys;  // by lower-cased full path
};

std::mutex pathMutex;
std::string registryPath;

std::string Lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16LE bytes (an odd last byte is dropped) to UTF-8.
std::string Utf16ToUtf8(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    std::uint32_t unit = static_cast<std::uint32_t>(bytes[i]) | static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < count) {
      std::uint32_t low = static_cast<std::uint32_t>(bytes[i + 2]) | static_cast<std::uint32_t>(bytes[i + 3]) << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, unit);
  }
  return out;
}

std::string DecodeFile(const std::string& raw) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.data());
  if (raw.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return Utf16ToUtf8(bytes + 2, raw.size() - 2);
  if (raw.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return raw.substr(3);
  return raw;
}

// Physical lines joined where one ends in a backslash (long hex data).
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string pending;
  bool continuing = false;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view part = continuing ? Trim(line) : std::string_view(line);
    std::string_view trimmedEnd = Trim(part);
    continuing = !trimmedEnd.empty() && trimmedEnd.back() == '\\';
    if (continuing) part = trimmedEnd.substr(0, trimmedEnd.size() - 1);
    pending.append(part);
    if (!continuing) {
      lines.push_back(std::move(pending));
      pending.clear();
    }
  }
  if (!pending.empty()) lines.push_back(std::move(pending));
  return lines;
}

std::string NormaliseKeyPath(std::string_view path) {
  std::string lowered = Lower(Trim(path));
  while (!lowered.empty() && lowered.back() == '\\') lowered.pop_back();
  return lowered;
}

// A quoted text with \\ and \" escapes, starting at text[0] == '"'. Returns
// the text and moves `rest` past the closing quote; nullopt if unclosed.
std::optional<std::string> TakeQuoted(std::string_view text, std::string_view* rest) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string value;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      *rest = text.substr(i + 1);
      return value;
    }
    value += (c == '\\' && i + 1 < text.size()) ? text[++i] : c;  // \\ and \" stand for \ and "
  }
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t maxDigits) {
  text = Trim(text);
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// "01,00,ff": one or two hex digits per byte; "" is no bytes.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  text = Trim(text);
  if (text.empty()) return bytes;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::optional<std::uint32_t> byte = ParseHexNumber(text.substr(0, comma), 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
    if (comma == std::string_view::npos) return bytes;
    text = text.substr(comma + 1);
  }
}

std::vector<std::uint8_t> TextBytes(const std::string& text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

// The data after '=': nullopt when malformed. A string type given as hex in
// a version 5 file holds UTF-16; it is read back as UTF-8, as the narrow
// registry functions give strings in the program's code page.
std::optional<RegistryValue> ParseData(std::string_view data, int version) {
  data = Trim(data);
  if (!data.empty() && data.front() == '"') {
    std::string_view rest;
    std::optional<std::string> text = TakeQuoted(data, &rest);
    if (!text || !Trim(rest).empty()) return std::nullopt;
    return RegistryValue{kRegString, TextBytes(*text)};
  }
  const std::string lowered = Lower(data);
  if (lowered.rfind("dword:", 0) == 0) {
    const std::optional<std::uint32_t> number = ParseHexNumber(data.substr(6), 8);
    if (!number) return std::nullopt;
    return RegistryValue{kRegDword, {static_cast<std::uint8_t>(*number), static_cast<std::uint8_t>(*number >> 8),
                                     static_cast<std::uint8_t>(*number >> 16), static_cast<std::uint8_t>(*number >> 24)}};
  }
  std::uint32_t type = kRegBinary;
  std::string_view list;
  if (lowered.rfind("hex:", 0) == 0) {
    list = data.substr(4);
  } else if (lowered.rfind("hex(", 0) == 0) {
    const std::size_t close = data.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    const std::optional<std::uint32_t> typed = ParseHexNumber(data.substr(4, close - 4), 8);
    if (!typed) return std::nullopt;
    type = *typed;
    list = data.substr(close + 2);
  } else {
    return std::nullopt;
  }
  std::optional<std::vector<std::uint8_t>> bytes = ParseHexBytes(list);
  if (!bytes) return std::nullopt;
  if (version == 5 && (type == kRegString || type == kRegExpand || type == kRegMulti)) {
    const std::string text = Utf16ToUtf8(bytes->data(), bytes->size());
    bytes->assign(text.begin(), text.end());
  }
  return RegistryValue{type, std::move(*bytes)};
}

void ParseValueLine(std::string_view line, int version, ValueMap& values) {
  std::string name;
  std::string_view rest;
  if (line.front() == '@') {
    rest = line.substr(1);
  } else {
    std::optional<std::string> quoted = TakeQuoted(line, &rest);
    if (!quoted) return;
    name = std::move(*quoted);
  }
  rest = Trim(rest);
  if (rest.empty() || rest.front() != '=') return;
  rest = Trim(rest.substr(1));
  if (rest == "-") {
    values.erase(Lower(name));
    return;
  }
  std::optional<RegistryValue> value = ParseData(rest, version);
  if (value) values[Lower(name)] = std::move(*value);
}

void DeleteKeyTree(ParsedRegistry& registry, const std::string& path) {
  for (auto it = registry.keys.begin(); it != registry.keys.end();) {
    const bool inside = it->first == path || it->first.rfind(path + "\\", 0) == 0;
    it = inside ? registry.keys.erase(it) : std::next(it);
  }
}

ParsedRegistry Parse(const std::string& raw) {
  ParsedRegistry registry;
  const std::vector<std::string> lines = LogicalLines(DecodeFile(raw));
  int version = 0;
  ValueMap* current = nullptr;
  for (const std::string& physical : lines) {
    const std::string_view line = Trim(physical);
    if (line.empty() || line.front() == ';') continue;
    if (version == 0) {
      if (line == "Windows Registry Editor Version 5.00") version = 5;
      else if (line == "REGEDIT4") version = 4;
      else return registry;  // not a registry export
      continue;
    }
    if (line.front() == '[' && line.back() == ']') {
      std::string_view inner = line.substr(1, line.size() - 2);
      if (!inner.empty() && inner.front() == '-') {
        DeleteKeyTree(registry, NormaliseKeyPath(inner.substr(1)));
        current = nullptr;
      } else {
        current = &registry.keys[NormaliseKeyPath(inner)];
      }
      continue;
    }
    if (current != nullptr) ParseValueLine(line, version, *current);
  }
  registry.valid = version != 0;
  return registry;
}

// The file's bytes, or a reason for refusing it. Only a regular file of at
// most kMaxRegistryFileBytes is read, so a device (/dev/zero) or a huge file
// cannot exhaust the memory.
const char* ReadWholeFile(const std::string& path, std::string* raw) {
  switch (ReadRegularFile(path.c_str(), kMaxRegistryFileBytes, raw)) {
    case FileRead::kRead: return nullptr;
    case FileRead::kNotRegular: return "is not a regular file";
    case FileRead::kTooLarge: return "is larger than 1 MB";
    case FileRead::kCannotRead: break;
  }
  return "cannot be read";
}

ParsedRegistry LoadRegistry() {
  std::string path;
  {
    std::lock_guard<std::mutex> guard(pathMutex);
    path = registryPath;
  }
  if (path.empty()) return ParsedRegistry{true, nullptr, {}};
  std::string raw;
  if (const char* problem = ReadWholeFile(path, &raw); problem != nullptr) {
    ParsedRegistry refused;
    refused.problem = problem;
    return refused;
  }
  return Parse(raw);
}

}  // namespace

struct RegistryKeyObject {
  ValueMap values;
};

bool UseRegistryFile(const char* path, const char** problem) {
  {
    std::lock_guard<std::mutex> guard(pathMutex);
    registryPath = path != nullptr ? path : "";
  }
  const ParsedRegistry registry = LoadRegistry();
  if (problem != nullptr) *problem = registry.valid ? nullptr : registry.problem;
  return registry.valid;
}

long OpenLocalMachineKey(const char* path, RegistryKey* key) {
  if (key == nullptr) return kRegistryNotFound;
  *key = nullptr;
  ParsedRegistry registry = LoadRegistry();
  const std::string wanted = NormaliseKeyPath(std::string("HKEY_LOCAL_MACHINE\\") + (path != nullptr ? path : ""));
  // A key exists when it, or a key below it, is named in the file.
  bool exists = false;
  for (const auto& [known, values] : registry.keys) {
    exists = exists || known == wanted || known.rfind(wanted + "\\", 0) == 0;
  }
  if (!exists) return kRegistryNotFound;
  auto* object = new (std::nothrow) RegistryKeyObject;
  if (object == nullptr) return kRegistryNotFound;
  if (auto found = registry.keys.find(wanted); found != registry.keys.end()) object->values = std::move(found->second);
  *key = object;
  return kRegistryOk;
}

long QueryRegistryValue(RegistryKey key, const char* name, void* data, std::uint32_t* size) {
  if (key == nullptr || size == nullptr) return kRegistryNotFound;
  auto found = key->values.find(Lower(name != nullptr ? name : ""));
  if (found == key->values.end()) return kRegistryNotFound;
  const std::vector<std::uint8_t>& bytes = found->second.data;
  const std::uint32_t available = *size;
  *size = static_cast<std::uint32_t>(bytes.size());
  if (data == nullptr) return kRegistryOk;
  if (bytes.size() > available) return kRegistryMoreData;
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  return kRegistryOk;
}

void CloseRegistryKey(RegistryKey key) { delete key; }

}  // namespace plat
