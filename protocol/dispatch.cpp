#include <atomic>
#include <cstring>

#include "protocol/command_table.h"

namespace vesk {
namespace {
// Written once before the listener starts; atomic only so that tests which
// flip it between servers stay free of data races.
std::atomic<std::int16_t> enableFenkFlag{0};
}  // namespace

void SetEnableFenkFlag(std::int16_t value) { enableFenkFlag.store(value, std::memory_order_relaxed); }
std::int16_t EnableFenkFlag() { return enableFenkFlag.load(std::memory_order_relaxed); }

const CommandTableEntry* FindCommand(CommandTable table, const std::uint8_t* header) {
  // The code is the string at byte 6; byte 10 (the status's first byte)
  // must be its terminator, so only a 4-letter code followed by 0 matches.
  const std::uint8_t* code = header + header::kCode;
  for (const CommandTableEntry& entry : table) {
    if (std::memcmp(code, entry.code, sizeof entry.code) == 0) return &entry;
  }
  return nullptr;
}

void DispatchCommand(std::uint8_t* header, std::uint8_t* body) {
  const CommandTableEntry* entry = FindCommand(BaseCommandTable(), header);
  if (entry == nullptr) {
    if (EnableFenkFlag() != 1) return;
    entry = FindCommand(ExtendedCommandTable(), header);
    if (entry == nullptr) return;
  }
  if (entry->handler == nullptr) return;
  Message message(header, body);
  entry->handler(message);
}

}  // namespace vesk
