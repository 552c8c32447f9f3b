// Reading the registry under HKEY_LOCAL_MACHINE. On Windows this is the
// registry itself; on POSIX the registry is a file in the registry editor's
// export format ("Windows Registry Editor Version 5.00" or "REGEDIT4"), so
// that values keep their types and bytes:
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\ZELK\Vesk\Settings]
//   "EnableVesk"=dword:00000001
//   "Text"="1"                 a string: its bytes and a NUL, "1\0"
//   "Bytes"=hex:01,00          binary data, as many bytes as listed
//
// Key and value names are compared without regard to case, as the registry
// does. A line that cannot be read is skipped, so its value is missing.
#pragma once

#include <cstdint>

namespace plat {

// Results as the registry functions give them.
inline constexpr long kRegistryOk = 0;          // ERROR_SUCCESS
inline constexpr long kRegistryNotFound = 2;    // ERROR_FILE_NOT_FOUND
inline constexpr long kRegistryMoreData = 234;  // ERROR_MORE_DATA

struct RegistryKeyObject;
using RegistryKey = RegistryKeyObject*;  // HKEY

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key).
long OpenLocalMachineKey(const char* path, RegistryKey* key);

// RegQueryValueExA(key, name, nullptr, nullptr, data, size): copies the
// value's bytes and sets *size to their count. kRegistryMoreData when they
// do not fit in *size bytes (then data is left alone). Strings come with
// their terminating NUL.
long QueryRegistryValue(RegistryKey key, const char* name, void* data, std::uint32_t* size);

// RegCloseKey
void CloseRegistryKey(RegistryKey key);

// POSIX: the file that holds the registry; nullptr or "" for an empty
// registry. False when the file cannot be read, is no regular file, holds
// more than kMaxRegistryFileBytes or is no registry export; *problem (if
// given) then says which. Call at start-up, before anything reads the
// registry. (Windows: no-op.)
inline constexpr unsigned long kMaxRegistryFileBytes = 1024ul * 1024ul;
bool UseRegistryFile(const char* path, const char** problem = nullptr);

// The enable flags' reader: the value as a 4-byte little-endian number, or
// 0 when the key cannot be opened or the value cannot be read. Data shorter
// than 4 bytes fills the low bytes and leaves the rest 0; longer data does
// not fit the buffer and so gives 0.
std::int32_t ReadEnableFlag(const char* key, const char* valueName);

}  // namespace plat
