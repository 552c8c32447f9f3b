// The two command tables, in the order of protocol/commands.def.
#include "protocol/command_handlers.h"
#include "protocol/command_table.h"

namespace vesk {
namespace {

// Keeps a line of commands.def in the table it names, drops it from the other.
#define VESK_KEEP_BASE_IN_BASE(...) __VA_ARGS__,
#define VESK_KEEP_EXTENDED_IN_BASE(...)
#define VESK_KEEP_BASE_IN_EXTENDED(...)
#define VESK_KEEP_EXTENDED_IN_EXTENDED(...) __VA_ARGS__,

constexpr CommandTableEntry kBaseCommands[] = {
#define VESK_COMMAND(code, table, summary) VESK_KEEP_##table##_IN_BASE(CommandTableEntry{commands::code, #code})
#include "protocol/commands.def"
};

constexpr CommandTableEntry kExtendedCommands[] = {
#define VESK_COMMAND(code, table, summary) VESK_KEEP_##table##_IN_EXTENDED(CommandTableEntry{commands::code, #code})
#include "protocol/commands.def"
};

#undef VESK_KEEP_BASE_IN_BASE
#undef VESK_KEEP_EXTENDED_IN_BASE
#undef VESK_KEEP_BASE_IN_EXTENDED
#undef VESK_KEEP_EXTENDED_IN_EXTENDED

}  // namespace

CommandTable BaseCommandTable() { return kBaseCommands; }
CommandTable ExtendedCommandTable() { return kExtendedCommands; }

}  // namespace vesk
