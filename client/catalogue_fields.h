// Request bodies from "name=value" text and reply fields as text, both by
// the layouts of the command catalogue.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/command_catalogue.h"

namespace vesk::client {

// True for "name=value": a plain name (letters and digits, a letter first)
// before the first '='. Typed fields such as "str:a=b" are not named.
bool IsNamedField(std::string_view text);

// Builds the request body from one "name=value" per request field of the
// command, in any order; every field must be given once. Values are
// converted to the field's type; one outside its type or outside the range
// that the service checks is refused. False with a message, body untouched.
bool EncodeNamedFields(const CommandInfo& command, std::span<const std::string> assignments,
                       std::vector<std::uint8_t>& body, std::string& error);

// A body built from typed fields (s16:N ...) against the command's layout:
// false, naming them, when fields are missing or bytes are left over, so
// that a forgotten value is never sent as zeros.
bool CheckRequestBody(const CommandInfo& command, std::span<const std::uint8_t> body, std::string& error);

// "acceleratingVoltage = 15 kV": the field read from the body, with its
// unit; "name: beyond the 2-byte body" when the body is too short for it.
std::string DecodeField(const Field& field, std::span<const std::uint8_t> body);

// One line per reply field of the command, in the catalogue's order.
std::vector<std::string> DecodeReplyFields(const CommandInfo& command, std::span<const std::uint8_t> body);

}  // namespace vesk::client
