// The command catalogue as text: the list and the layout of one command for
// the terminal, and the protocol reference docs/commands.md.
#pragma once

#include <string>

#include "client/command_catalogue.h"

namespace vesk::client {

// One line per command: code, table, summary.
std::string ListCommands();

// The request and reply layout of one command, with its status rules.
std::string DescribeCommand(const CommandInfo& command);

// The whole of docs/commands.md.
std::string CatalogueMarkdown();

}  // namespace vesk::client
