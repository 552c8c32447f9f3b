// The command catalogue: every command of the VESK protocol as data, in the
// order of the service's command tables, with the layout of its request and
// reply bodies. The command-line client builds requests and decodes replies
// from it, and docs/commands.md is generated from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vesk::client {

// How a field travels; every integer is big-endian.
enum class FieldType : std::uint8_t {
  kS16,
  kU16,
  kS32,
  kU32,
  kF32,    // WireFloat: IEEE-754 single precision, most significant byte first
  kBcd16,  // u16 holding four decimal digits in packed BCD (0x6380 = model 6380)
  kText,   // single-byte characters ended by a NUL
};

// Inclusive bounds of a request value that the service checks itself; a
// value outside them is refused with status -1 and nothing is set.
struct ValueRange {
  double low;
  double high;
};

struct Field {
  const char* name;
  std::uint16_t offset;  // within the body
  FieldType type;
  const char* unit = "";                           // printed after a decoded value: "kV", "mm"
  const char* meaning = "";                        // what the value stands for: "raw - 2048"
  std::optional<ValueRange> range = std::nullopt;  // requests only
  std::uint16_t width = 0;                         // text only: bytes reserved, 0 = up to the end of the request
};

enum class CommandTableKind : std::uint8_t {
  kBase,      // always served
  kExtended,  // served only while the EnableFenk registry flag is 1
};

// The status of a reply that succeeded.
enum class SuccessStatus : std::uint8_t {
  kBodySize,  // the reply body's size, so status = length - 16
  kZero,
  kUnchanged,  // not written: the request's own two status bytes come back
};

// What the reply body carries when status is -1 (the reply length is the
// same as on success).
enum class FailureBody : std::uint8_t {
  kCannotFail,   // the command never reports -1
  kReadings,     // the fields, read after the attempt
  kAsOnSuccess,  // the same fields as on success (echoes, constants)
  kZeros,        // all zero
  kNotWritten,   // whatever the buffer held: no readings
  kNoBody,       // the reply is the header alone
};

struct CommandInfo {
  const char* code;
  CommandTableKind table;
  const char* summary;
  std::span<const Field> request;
  std::uint16_t replySize;  // fixed per command
  std::span<const Field> reply;
  SuccessStatus success;
  FailureBody failureBody;
  const char* failsWhen;  // when status is -1; "" for a command that cannot fail
  const char* note = "";  // waits, polling, side effects worth knowing
};

// Every command in the order of protocol/commands.def: the base table's in
// order, then the extended table's.
std::span<const CommandInfo> CommandCatalogue();

// The entry for a code (exact, case-sensitive), or nullptr.
const CommandInfo* FindCommandInfo(std::string_view code);

// The position of the command within its own table.
std::size_t TableEntry(const CommandInfo& command);

const char* TypeName(FieldType type);
const char* TableName(CommandTableKind table);

// Bytes a field occupies; for text without a reserved width, the NUL alone.
std::size_t FieldWidth(const Field& field);

// The request body size when it has no variable-length text; for a request
// ending in such text, the offset where the text starts.
std::size_t FixedRequestSize(const CommandInfo& command);
bool HasVariableText(const CommandInfo& command);

// The status of a successful reply, or nothing when it is the request's own.
std::optional<std::int16_t> SuccessStatusValue(const CommandInfo& command);

// "status -1 when ...; the body still carries the readings", or "cannot fail".
std::string FailureNote(const CommandInfo& command);

}  // namespace vesk::client
