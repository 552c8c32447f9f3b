// The command catalogue and decoded replies as JSON, for programs in other
// languages: the Python package carries CatalogueJson() as its data file,
// and `vesk-client --json` prints ReplyJson().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "client/command_catalogue.h"
#include "client/vesk_client.h"

namespace vesk::client {

// How long the service itself may hold a command before it replies (its
// polls and spins), in milliseconds; 0 for a command that answers at once.
// A client waits this long plus its own allowance for queueing and transit.
std::uint32_t LongestServiceWaitMs(const CommandInfo& command);

// Every command, its layouts, status rules and service wait, as one JSON
// document (clients/python/vesk/catalogue.json).
std::string CatalogueJson();

// One JSON object for a reply: code, status, length, whether it was served
// and failed, and the named fields with their units; `command` may be null
// for a code the catalogue does not know.
std::string ReplyJson(const CommandInfo* command, std::string_view code, const Reply& reply);

// {"code": ..., "error": ...}: a request that got no usable reply.
std::string ErrorJson(std::string_view code, std::string_view error);

}  // namespace vesk::client
