// The two command tables and the dispatcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>

#include "protocol/message.h"

namespace vesk {

// A handler reads its request from the message and writes the reply in
// place. It reports only through the reply; it has no result.
using CommandHandler = void (*)(Message& message);

struct CommandTableEntry {
  CommandHandler handler;  // nullptr: the code is known but not served
  char code[5];            // four letters and a NUL
};

using CommandTable = std::span<const CommandTableEntry>;

// Searched for every request.
CommandTable BaseCommandTable();
// Searched only while the EnableFenk flag is 1.
CommandTable ExtendedCommandTable();

// The EnableFenk flag: stored once at start-up, before any connection.
void SetEnableFenkFlag(std::int16_t value);
std::int16_t EnableFenkFlag();

// Finds the handler for the request's code and runs it. A code without a
// handler leaves the buffer untouched, so the request comes back unchanged.
// Called with DispatchLock held.
void DispatchCommand(std::uint8_t* header, std::uint8_t* body);

// The entry for a code (compared as the NUL-terminated string at header
// byte 6), or nullptr; for tests and tools.
const CommandTableEntry* FindCommand(CommandTable table, const std::uint8_t* header);

}  // namespace vesk
