// Reading the registry on Windows: HKEY_LOCAL_MACHINE itself. A 32-bit
// program on 64-bit Windows sees the 32-bit view (SOFTWARE\WOW6432Node),
// where the instrument's 32-bit software keeps its settings.
#include <windows.h>

#include "platform/registry.h"

namespace plat {

long OpenLocalMachineKey(const char* path, RegistryKey* key) {
  if (key == nullptr) return kRegistryNotFound;
  *key = nullptr;
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened);
  if (status != ERROR_SUCCESS) return status;
  *key = reinterpret_cast<RegistryKey>(opened);
  return kRegistryOk;
}

long QueryRegistryValue(RegistryKey key, const char* name, void* data, std::uint32_t* size) {
  if (key == nullptr || size == nullptr) return kRegistryNotFound;
  DWORD count = *size;
  const LONG status =
      ::RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, nullptr, static_cast<BYTE*>(data), &count);
  *size = count;
  return status;
}

void CloseRegistryKey(RegistryKey key) {
  if (key != nullptr) ::RegCloseKey(reinterpret_cast<HKEY>(key));
}

bool UseRegistryFile(const char*, const char**) { return true; }  // the registry is the registry

}  // namespace plat
