#include "platform/registry.h"

namespace plat {

std::int32_t ReadEnableFlag(const char* key, const char* valueName) {
  RegistryKey handle = nullptr;
  if (OpenLocalMachineKey(key, &handle) != kRegistryOk) return 0;
  std::uint8_t data[4] = {};
  std::uint32_t size = sizeof data;
  const long status = QueryRegistryValue(handle, valueName, data, &size);
  CloseRegistryKey(handle);
  if (status != kRegistryOk) return 0;
  const std::uint32_t value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                              static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return static_cast<std::int32_t>(value);
}

}  // namespace plat
