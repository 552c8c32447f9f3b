// Registry values for tests, written in the registry editor's data forms
// ("dword:00000001", "\"1\"", "hex:01,00", "hex(b):..."), under
// HKEY_LOCAL_MACHINE. On POSIX they become the registry export file that
// the platform reads; on Windows they are written into the registry itself
// (which needs the right to write HKEY_LOCAL_MACHINE, as under wine), and
// the values are removed again when the object goes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace vesk::testing {

struct RegistryEntry {
  std::string key;   // below HKEY_LOCAL_MACHINE, e.g. "SOFTWARE\\ZELK\\Vesk\\Settings"
  std::string name;  // the value's name
  std::string data;  // in the registry editor's form; "" for no such value
};

class TestRegistry {
 public:
  TestRegistry() = default;
  ~TestRegistry();
  TestRegistry(const TestRegistry&) = delete;
  TestRegistry& operator=(const TestRegistry&) = delete;

  // Replaces what an earlier Install put in place; false when a value could
  // not be written (or the data is not in a known form).
  bool Install(const std::vector<RegistryEntry>& entries);

 private:
  void Remove();
  TempDir directory_;
  std::vector<RegistryEntry> installed_;
};

}  // namespace vesk::testing
