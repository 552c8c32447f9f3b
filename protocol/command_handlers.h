// Every command's handler, declared from protocol/commands.def: the handler
// of a code has the code's name (vesk::commands::FVAS). Each one is defined
// in its family's file in commands/.
#pragma once

#include "protocol/message.h"

namespace vesk::commands {

#define VESK_COMMAND(code, table, summary) void code(Message& message);
#include "protocol/commands.def"

}  // namespace vesk::commands
