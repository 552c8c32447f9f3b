#include "client/catalogue_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "protocol/message.h"
#include "protocol/service_waits.h"
#include "protocol/wire.h"

namespace vesk::client {
namespace {

// Non-ASCII bytes (code page 932 paths) become \u00XX, one per byte, so the
// text stays valid JSON and the bytes can be recovered exactly.
void AppendString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(byte));
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

// The shortest text that reads back as the same value; null for what JSON
// cannot hold.
template <typename Number>
void AppendNumber(std::string& out, Number value) {
  if constexpr (std::is_floating_point_v<Number>) {
    if (!std::isfinite(value)) {
      out += "null";
      return;
    }
  }
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

void AppendKey(std::string& out, std::string_view key) {
  AppendString(out, key);
  out += ": ";
}

void AppendField(std::string& out, const Field& field, bool request) {
  out += "{";
  AppendKey(out, "name");
  AppendString(out, field.name);
  out += ", ";
  AppendKey(out, "offset");
  AppendNumber(out, field.offset);
  out += ", ";
  AppendKey(out, "type");
  AppendString(out, TypeName(field.type));
  out += ", ";
  AppendKey(out, "width");
  AppendNumber(out, FieldWidth(field));
  out += ", ";
  AppendKey(out, "unit");
  AppendString(out, field.unit);
  if (request) {
    out += ", ";
    AppendKey(out, "range");
    if (field.range) {
      out += "[";
      AppendNumber(out, field.range->low);
      out += ", ";
      AppendNumber(out, field.range->high);
      out += "]";
    } else {
      out += "null";
    }
  }
  if (field.type == FieldType::kText) {
    out += ", ";
    AppendKey(out, "variable");
    out += field.width == 0 ? "true" : "false";
  }
  out += ", ";
  AppendKey(out, "meaning");
  AppendString(out, field.meaning);
  out += "}";
}

void AppendFields(std::string& out, std::span<const Field> fields, bool request) {
  if (fields.empty()) {
    out += "[]";
    return;
  }
  out += "[\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out += "        ";
    AppendField(out, fields[i], request);
    out += i + 1 < fields.size() ? ",\n" : "\n";
  }
  out += "      ]";
}

const char* FailureBodyName(FailureBody body) {
  switch (body) {
    case FailureBody::kCannotFail:
      return "cannot fail";
    case FailureBody::kReadings:
      return "readings";
    case FailureBody::kAsOnSuccess:
      return "as on success";
    case FailureBody::kZeros:
      return "zeros";
    case FailureBody::kNotWritten:
      return "not written";
    case FailureBody::kNoBody:
      return "no body";
  }
  return "?";
}

void AppendCommand(std::string& out, const CommandInfo& command) {
  const auto line = [&out](std::string_view key) {
    out += ",\n      ";
    AppendKey(out, key);
  };
  out += "    {\n      ";
  AppendKey(out, "code");
  AppendString(out, command.code);
  line("table");
  AppendString(out, TableName(command.table));
  line("entry");
  AppendNumber(out, TableEntry(command));
  line("summary");
  AppendString(out, command.summary);
  line("requestSize");
  AppendNumber(out, FixedRequestSize(command));
  line("request");
  AppendFields(out, command.request, true);
  line("replySize");
  AppendNumber(out, command.replySize);
  line("reply");
  AppendFields(out, command.reply, false);
  line("successStatus");
  const std::optional<std::int16_t> success = SuccessStatusValue(command);
  if (success) {
    AppendNumber(out, *success);
  } else {
    out += "null";
  }
  line("failureBody");
  AppendString(out, FailureBodyName(command.failureBody));
  line("failureNote");
  AppendString(out, FailureNote(command));
  line("serviceWaitMs");
  AppendNumber(out, LongestServiceWaitMs(command));
  line("note");
  AppendString(out, command.note);
  out += "\n    }";
}

void AppendFieldValue(std::string& out, const Field& field, std::span<const std::uint8_t> body) {
  const std::uint8_t* p = body.data() + field.offset;
  switch (field.type) {
    case FieldType::kS16:
      AppendNumber(out, ReadS16(p));
      return;
    case FieldType::kU16:
      AppendNumber(out, ReadU16(p));
      return;
    case FieldType::kS32:
      AppendNumber(out, ReadS32(p));
      return;
    case FieldType::kU32:
      AppendNumber(out, ReadU32(p));
      return;
    case FieldType::kF32:
      AppendNumber(out, FloatFromWire(p));
      return;
    case FieldType::kBcd16: {
      char digits[8];
      std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(ReadU16(p)));
      AppendString(out, digits);
      return;
    }
    case FieldType::kText: {
      const std::size_t room = body.size() - field.offset;
      const void* nul = std::memchr(p, 0, room);
      const std::size_t length = nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p)
                                                : room;
      AppendString(out, std::string_view(reinterpret_cast<const char*>(p), length));
      return;
    }
  }
}

// Every reply field that the body holds, by name; none when a failed reply
// carries no readings.
void AppendReplyFields(std::string& out, const CommandInfo& command, const Reply& reply, bool failed) {
  const bool readings = !(failed && command.failureBody == FailureBody::kNotWritten);
  std::string fields;
  std::string units;
  for (const Field& field : command.reply) {
    const std::size_t end = field.offset + (field.type == FieldType::kText && field.width == 0 ? 1 : FieldWidth(field));
    if (!readings || end > reply.body.size()) continue;
    if (!fields.empty()) fields += ", ";
    AppendKey(fields, field.name);
    AppendFieldValue(fields, field, reply.body);
    if (field.unit[0] == '\0') continue;
    if (!units.empty()) units += ", ";
    AppendKey(units, field.name);
    AppendString(units, field.unit);
  }
  out += ", \"fields\": {" + fields + "}, \"units\": {" + units + "}";
}

}  // namespace

std::uint32_t LongestServiceWaitMs(const CommandInfo& command) {
  for (const service_waits::CommandWait& wait : service_waits::kCommandWaits) {
    if (std::strcmp(wait.code, command.code) == 0) return wait.longestMs;
  }
  return 0;
}

std::string CatalogueJson() {
  std::string out = "{\n  \"format\": 1,\n  \"headerSize\": ";
  AppendNumber(out, kHeaderSize);
  out += ",\n  \"maxMessageSize\": ";
  AppendNumber(out, kMessageBufferSize);
  out += ",\n  \"commands\": [\n";
  const std::span<const CommandInfo> commands = CommandCatalogue();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    AppendCommand(out, commands[i]);
    out += i + 1 < commands.size() ? ",\n" : "\n";
  }
  out += "  ]\n}\n";
  return out;
}

std::string ReplyJson(const CommandInfo* command, std::string_view code, const Reply& reply) {
  const bool served = reply.magic == "BS!a";
  const bool failed = served && reply.status == kStatusFailed;
  std::string out = "{";
  AppendKey(out, "code");
  AppendString(out, code);
  out += ", \"status\": ";
  AppendNumber(out, reply.status);
  out += ", \"length\": ";
  AppendNumber(out, reply.length);
  out += served ? ", \"served\": true" : ", \"served\": false";
  out += failed ? ", \"failed\": true" : ", \"failed\": false";
  if (failed && command != nullptr) {
    out += ", ";
    AppendKey(out, "failure");
    AppendString(out, FailureNote(*command));
  }
  if (served && command != nullptr) {
    AppendReplyFields(out, *command, reply, failed);
  } else {
    std::string hex;
    char digits[4];
    for (const std::uint8_t byte : reply.body) {
      std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
      hex += digits;
    }
    out += ", ";
    AppendKey(out, "body");
    AppendString(out, hex);
  }
  out += "}\n";
  return out;
}

std::string ErrorJson(std::string_view code, std::string_view error) {
  std::string out = "{";
  AppendKey(out, "code");
  AppendString(out, code);
  out += ", ";
  AppendKey(out, "error");
  AppendString(out, error);
  out += "}\n";
  return out;
}

}  // namespace vesk::client
