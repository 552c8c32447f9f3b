#include "client/catalogue_fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/message.h"
#include "protocol/wire.h"

namespace vesk::client {
namespace {

struct IntegerLimits {
  long long low;
  long long high;
};

IntegerLimits LimitsOf(FieldType type) {
  switch (type) {
    case FieldType::kS16:
      return {INT16_MIN, INT16_MAX};
    case FieldType::kS32:
      return {INT32_MIN, INT32_MAX};
    case FieldType::kU32:
      return {0, UINT32_MAX};
    default:
      return {0, UINT16_MAX};
  }
}

// Decimal, or hexadecimal after 0x; an optional sign. A leading zero does
// not make the number octal.
bool ParseWhole(std::string_view text, long long& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  unsigned long long magnitude = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, magnitude, base);
  if (text.empty() || failure != std::errc() || stop != end || magnitude > (1ull << 40)) return false;
  value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return true;
}

bool ParseFloat(const std::string& text, float& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtof(text.c_str(), &end);
  return *end == '\0';
}

std::string RangeText(const ValueRange& range) {
  char text[64];
  std::snprintf(text, sizeof text, "%g .. %g", range.low, range.high);
  return text;
}

bool WithinRange(const Field& field, double value) {
  return !field.range || (value >= field.range->low && value <= field.range->high);
}

// The field's bytes for the value text, or false with a message.
bool ConvertValue(const CommandInfo& command, const Field& field, const std::string& text,
                  std::vector<std::uint8_t>& bytes, std::string& error) {
  const std::string what = std::string(command.code) + " " + field.name + "=" + text;
  if (field.type == FieldType::kText) {
    const std::size_t room = field.width != 0 ? field.width : kMaxBodySize - field.offset;
    if (text.size() + 1 > room) {
      error = what + ": the text takes " + std::to_string(text.size() + 1) + " bytes with its NUL; at most " +
              std::to_string(room) + " fit";
      return false;
    }
    bytes.assign(text.begin(), text.end());
    bytes.push_back(0);
    return true;
  }
  double value = 0;
  std::uint32_t bits = 0;
  if (field.type == FieldType::kF32) {
    float f = 0;
    if (!ParseFloat(text, f)) {
      error = what + ": not a number";
      return false;
    }
    value = f;
    bits = ReadU32(FloatToWire(f).data());
  } else {
    long long whole = 0;
    const IntegerLimits limits = LimitsOf(field.type);
    if (!ParseWhole(text, whole)) {
      error = what + ": not a whole number";
      return false;
    }
    if (whole < limits.low || whole > limits.high) {
      error = what + ": does not fit " + TypeName(field.type) + " (" + std::to_string(limits.low) + " .. " +
              std::to_string(limits.high) + ")";
      return false;
    }
    value = static_cast<double>(whole);
    bits = static_cast<std::uint32_t>(whole);
  }
  if (!WithinRange(field, value)) {
    error = what + ": outside " + RangeText(*field.range) + ", which the service refuses";
    return false;
  }
  bytes.resize(FieldWidth(field));
  if (bytes.size() == 2) {
    WriteU16(bytes.data(), static_cast<std::uint16_t>(bits));
  } else {
    WriteU32(bytes.data(), bits);
  }
  return true;
}

const Field* FindRequestField(const CommandInfo& command, std::string_view name) {
  for (const Field& field : command.request) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

std::string FieldNames(std::span<const Field> fields) {
  std::string names;
  for (const Field& field : fields) names += (names.empty() ? "" : ", ") + std::string(field.name);
  return names;
}

std::string FormatValue(const Field& field, std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  char text[32];
  switch (field.type) {
    case FieldType::kS16:
      return std::to_string(ReadS16(p));
    case FieldType::kU16:
      return std::to_string(ReadU16(p));
    case FieldType::kS32:
      return std::to_string(ReadS32(p));
    case FieldType::kU32:
      return std::to_string(ReadU32(p));
    case FieldType::kF32:
      std::snprintf(text, sizeof text, "%g", static_cast<double>(FloatFromWire(p)));
      return text;
    case FieldType::kBcd16:
      std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(ReadU16(p)));
      return text;
    case FieldType::kText: {
      const void* nul = std::memchr(p, 0, bytes.size());
      const std::size_t length =
          nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : bytes.size();
      std::string quoted = "\"";
      quoted.append(reinterpret_cast<const char*>(p), length).append("\"");
      return quoted;
    }
  }
  return "?";
}

}  // namespace

bool IsNamedField(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) return false;
  for (std::size_t i = 0; i < equals; ++i) {
    const char c = text[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

bool EncodeNamedFields(const CommandInfo& command, std::span<const std::string> assignments,
                       std::vector<std::uint8_t>& body, std::string& error) {
  if (command.request.empty()) {
    error = std::string(command.code) + " takes no request fields";
    return false;
  }
  std::vector<std::vector<std::uint8_t>> values(command.request.size());
  std::vector<bool> given(command.request.size(), false);
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const Field* field = FindRequestField(command, name);
    if (!IsNamedField(assignment) || field == nullptr) {
      error = std::string(command.code) + " has no request field '" + name +
              "' (its fields: " + FieldNames(command.request) + ")";
      return false;
    }
    const std::size_t index = static_cast<std::size_t>(field - command.request.data());
    if (given[index]) {
      error = std::string(command.code) + " " + name + " is given twice";
      return false;
    }
    if (!ConvertValue(command, *field, assignment.substr(equals + 1), values[index], error)) return false;
    given[index] = true;
  }
  std::string missing;
  for (std::size_t i = 0; i < command.request.size(); ++i) {
    if (!given[i]) missing += (missing.empty() ? "" : ", ") + std::string(command.request[i].name);
  }
  if (!missing.empty()) {
    error = std::string(command.code) + " needs every request field; missing: " + missing;
    return false;
  }
  std::vector<std::uint8_t> built(FixedRequestSize(command), 0);
  for (std::size_t i = 0; i < command.request.size(); ++i) {
    const Field& field = command.request[i];
    const std::size_t end = field.offset + std::max(values[i].size(), FieldWidth(field));
    if (built.size() < end) built.resize(end, 0);
    std::copy(values[i].begin(), values[i].end(), built.begin() + field.offset);
  }
  body = std::move(built);
  return true;
}

bool CheckRequestBody(const CommandInfo& command, std::span<const std::uint8_t> body, std::string& error) {
  const std::size_t fixed = FixedRequestSize(command);
  const bool text = HasVariableText(command);
  std::string missing;
  for (const Field& field : command.request) {
    if (field.offset + FieldWidth(field) > body.size()) missing += (missing.empty() ? "" : ", ") + std::string(field.name);
  }
  const std::string given = std::to_string(body.size()) + " given";
  if (!missing.empty()) {
    error = std::string(command.code) + ": missing " + missing + " (" + std::to_string(fixed + (text ? 1 : 0)) +
            (text ? " or more" : "") + " body bytes needed, " + given + ")";
    return false;
  }
  if (!text && body.size() > fixed) {
    error = std::string(command.code) + ": " + std::to_string(body.size() - fixed) + " surplus body bytes (" +
            (command.request.empty() ? "it takes no request fields" : "its fields: " + FieldNames(command.request)) +
            "; " + std::to_string(fixed) + " bytes needed, " + given + ")";
    return false;
  }
  return true;
}

std::string DecodeField(const Field& field, std::span<const std::uint8_t> body) {
  const std::size_t width = field.type == FieldType::kText && field.width == 0
                                ? (body.size() > field.offset ? body.size() - field.offset : 0)
                                : FieldWidth(field);
  if (width == 0 || field.offset + width > body.size()) {
    return std::string(field.name) + ": beyond the " + std::to_string(body.size()) + "-byte body";
  }
  std::string line = std::string(field.name) + " = ";
  line += FormatValue(field, body.subspan(field.offset, width));
  if (field.unit[0] != '\0') line += std::string(" ") + field.unit;
  return line;
}

std::vector<std::string> DecodeReplyFields(const CommandInfo& command, std::span<const std::uint8_t> body) {
  std::vector<std::string> lines;
  for (const Field& field : command.reply) lines.push_back(DecodeField(field, body));
  return lines;
}

}  // namespace vesk::client
