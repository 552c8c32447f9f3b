#include "tests/support/registry_support.h"

#include <cstdint>
#include <optional>

#include "platform/registry.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vesk::testing {

#if defined(_WIN32)
namespace {

struct NativeValue {
  DWORD type;
  std::vector<std::uint8_t> bytes;
};

std::optional<std::vector<std::uint8_t>> HexBytes(const std::string& list) {
  std::vector<std::uint8_t> bytes;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t comma = list.find(',', at);
    const std::string byte = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (byte.empty() || byte.size() > 2) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return bytes;
}

std::optional<NativeValue> Parse(const std::string& data) {
  if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
    const std::string text = data.substr(1, data.size() - 2);
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return NativeValue{REG_SZ, bytes};
  }
  if (data.rfind("dword:", 0) == 0) {
    const auto number = static_cast<std::uint32_t>(std::stoul(data.substr(6), nullptr, 16));
    return NativeValue{REG_DWORD, {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                                   static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
  }
  DWORD type = REG_BINARY;
  std::string list;
  if (data.rfind("hex:", 0) == 0) {
    list = data.substr(4);
  } else if (data.rfind("hex(", 0) == 0 && data.find("):") != std::string::npos) {
    type = static_cast<DWORD>(std::stoul(data.substr(4), nullptr, 16));
    list = data.substr(data.find("):") + 2);
  } else {
    return std::nullopt;
  }
  std::optional<std::vector<std::uint8_t>> bytes = HexBytes(list);
  if (!bytes) return std::nullopt;
  return NativeValue{type, *bytes};
}

bool Write(const RegistryEntry& entry) {
  const std::optional<NativeValue> value = Parse(entry.data);
  if (!value) return false;
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, entry.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status = ::RegSetValueExA(key, entry.name.c_str(), 0, value->type, value->bytes.data(),
                                       static_cast<DWORD>(value->bytes.size()));
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void Delete(const RegistryEntry& entry) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.key.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  ::RegDeleteValueA(key, entry.name.c_str());
  ::RegCloseKey(key);
}

}  // namespace

bool TestRegistry::Install(const std::vector<RegistryEntry>& entries) {
  Remove();
  bool written = true;
  for (const RegistryEntry& entry : entries) {
    Delete(entry);  // a value left from elsewhere must not count
    installed_.push_back(entry);
    if (!entry.data.empty()) written = Write(entry) && written;
  }
  return written;
}

void TestRegistry::Remove() {
  for (const RegistryEntry& entry : installed_) Delete(entry);
  installed_.clear();
}

#else

bool TestRegistry::Install(const std::vector<RegistryEntry>& entries) {
  std::string text = "Windows Registry Editor Version 5.00\n\n";
  for (const RegistryEntry& entry : entries) {
    if (entry.data.empty()) continue;
    text += "[HKEY_LOCAL_MACHINE\\" + entry.key + "]\n\"" + entry.name + "\"=" + entry.data + "\n";
  }
  installed_ = entries;
  return plat::UseRegistryFile(directory_.Write("registry.reg", text).c_str());
}

void TestRegistry::Remove() {
  if (!installed_.empty()) plat::UseRegistryFile(nullptr);
  installed_.clear();
}

#endif

TestRegistry::~TestRegistry() { Remove(); }

}  // namespace vesk::testing
