// Every command handler, by family. Each family lives in its own file in
// commands/; protocol/command_tables.cpp puts the handlers in table order.
#pragma once

#include "protocol/message.h"

namespace vesk::commands {

// high_voltage.cpp
void FVAS(Message& message);  // set the accelerating voltage
void FEBS(Message& message);  // switch the high voltage
void FXSR(Message& message);  // read the high-voltage status

}  // namespace vesk::commands
