#include "client/catalogue_text.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::client {
namespace {

using Row = std::vector<std::string>;

constexpr const char kMarkdownIntro[] = R"(# VESK command reference

This file is generated from the command list `protocol/commands.def` and the field layouts of
`client/command_catalogue.cpp`; do not edit it by hand. After changing either, regenerate it with

    build/default/client/vesk-client --markdown > docs/commands.md

A unit test fails while this file and the catalogue differ.

VESK serves {all} commands over TCP port 22300: {base} in the base table, always served, and {extended} in the
extended table, served only while the registry value `EnableFenk` is 1. Every request gets exactly one
reply.

## The frame

Every request and every reply is one message of at most 1024 bytes: a 16-byte header followed by a body
of at most 1008 bytes. Every multi-byte value is big-endian, most significant byte first.

| Offset | Size | Field | In a request | In a reply |
|---|---|---|---|---|
| 0 | 2 | `length` | u16: 16 + the body size | 16 + the reply body size, fixed per command |
| 2 | 4 | `magic` | not examined | `BS!a` (42 53 21 61) |
| 6 | 4 | `code` | four ASCII letters, case-sensitive | the request's code |
| 10 | 2 | `status` | byte 10 must be 0: it ends the code | s16, see below |
| 12 | 4 | `reserved` | anything | the request's bytes |

The service reads a request's fields at fixed body offsets and does not compare them with `length`: when
a request is shorter, the missing bytes are whatever the connection's buffer holds from an earlier message
(zeros on a new connection). Always send the whole body. A request whose `length` is below 16 or above
1024 cannot be framed: the service closes the connection without answering.

## Values

| Type | On the wire |
|---|---|
| `s16`, `u16` | 16-bit integer, signed or unsigned |
| `s32`, `u32` | 32-bit integer, signed or unsigned |
| `f32` | WireFloat: IEEE-754 single precision, the byte with the sign first; 1.0 is 3F 80 00 00, 10.0 is 41 20 00 00 |
| `bcd16` | u16 holding four decimal digits in packed BCD: model 6380 is 63 80 |
| `text` | single-byte characters in the code page of the instrument's computer, ended by a NUL |

Settings that the instrument keeps as unsigned raw values travel centred on zero: the gun alignment as
raw - 128, the stigmators as raw - 2048, the fine image shift as raw - 2048 (raw - 655 on instrument type
1). Working distances travel in millimetres and accelerating voltages in kilovolts, both as `f32`. Stage
positions and distances, detector values and vacuum readings keep the control library's own units.

## Status and replies

- Success: `status` is the reply body's size (so `status` = `length` - 16) for most commands and 0 for
  some; `FXSR` leaves the request's own status bytes in place. Each command below gives its value.
- Failure: `status` -1 (FF FF). The reply has the same `length` as on success; each command below says
  what its body then carries: the readings, zeros, or bytes that it did not write (no readings).
- Bytes of a reply body that a layout below does not name are zero.
- A range under "Accepted" is checked by the service: a value outside it is refused with `status` -1 and
  nothing is set. Other values go to the instrument, which may clamp or refuse them.
- A code that the service does not serve (unknown, in the wrong case, or an extended code while
  `EnableFenk` is not 1) comes back byte for byte as it was sent, with the client's own `magic`: check
  for `BS!a`.

## Connections and timing

- At most 20 clients are served at once. The 21st connection receives the 9 bytes `SRV ERR\r\n` (not a
  frame) and is closed.
- Commands run one at a time across all connections, each until its reply has been sent. A command that
  waits inside the service holds up every other client meanwhile: `ISAV` up to about 180 s; `EFAS`,
  `ESAS` and `DACS` up to about 20 s each; `FPAS` about 200 ms and `FPMS` about 100 ms. Allow for this in
  reply timeouts.
- To keep the service free, start and poll instead: `IFSS` or `IFFS` then `IFSR`; `EGAS` then `EGAR`;
  `EAAS`, which starts an automatic adjustment without waiting; a stage move then `WSTR`.
- A client that does not read its replies is disconnected when one reply cannot be sent within 10 s.

## From the command line

    vesk-client --list                    # every command
    vesk-client --describe EMGS           # one command's layout
    vesk-client EMGS magnification=1000   # fields by name; the reply decoded by name
    vesk-client EMGS s32:1000 --hex       # typed fields in order; the body in hex too

Named fields are checked against the layouts and ranges below before anything is sent; typed fields
(`s16:`, `u16:`, `s32:`, `u32:`, `f32:`, `hex:`, `str:`) are sent as given.

## Commands

)";

std::string Lower(const char* code) {
  std::string text = code;
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string RangeText(const Field& field) {
  if (!field.range) return "";
  char text[64];
  if (field.range->low == field.range->high) {
    std::snprintf(text, sizeof text, "only %g", field.range->low);
  } else {
    std::snprintf(text, sizeof text, "%g .. %g", field.range->low, field.range->high);
  }
  return text;
}

std::string RequestSizeText(const CommandInfo& command) {
  if (command.request.empty()) return "none";
  const std::string fixed = std::to_string(FixedRequestSize(command)) + " bytes";
  if (!HasVariableText(command)) return fixed;
  return FixedRequestSize(command) == 0 ? "text" : fixed + " + text";
}

std::string ReplySizeText(const CommandInfo& command) {
  return command.replySize == 0 ? "none" : std::to_string(command.replySize) + " bytes";
}

std::string SuccessText(const CommandInfo& command) {
  const std::optional<std::int16_t> status = SuccessStatusValue(command);
  return status ? "status " + std::to_string(*status) : "status as sent (not written)";
}

std::string TableText(const CommandInfo& command) {
  std::string text = command.table == CommandTableKind::kBase ? "base table" : "extended table";
  text += ", entry " + std::to_string(TableEntry(command));
  if (command.table == CommandTableKind::kExtended) text += " (served only while EnableFenk is 1)";
  return text;
}

// Rows with their columns padded to a common width, two spaces apart.
std::string Columns(const std::vector<Row>& rows, const std::string& indent) {
  std::vector<std::size_t> widths;
  for (const Row& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const Row& row : rows) {
    std::string line = indent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size() && widths[i] > 0) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  }
  return text;
}

std::string TextWidth(const Field& field) {
  if (field.type != FieldType::kText) return "";
  return field.width == 0 ? "NUL-terminated" : std::to_string(field.width) + " bytes, NUL-terminated";
}

std::string Meaning(const Field& field) {
  std::string meaning = field.meaning;
  const std::string width = TextWidth(field);
  if (!width.empty()) meaning = meaning.empty() ? width : width + "; " + meaning;
  return meaning;
}

Row FieldRow(const Field& field, bool withRange) {
  Row row = {std::to_string(field.offset), TypeName(field.type), field.name, field.unit};
  if (withRange) row.push_back(RangeText(field));
  row.push_back(Meaning(field));
  return row;
}

std::string MarkdownCell(const std::string& text) {
  std::string cell;
  for (char c : text) cell += c == '|' ? std::string("\\|") : std::string(1, c);
  return cell;
}

// Field rows (FieldRow): the third column, the field's name, as code.
std::string MarkdownTable(const Row& head, const std::vector<Row>& rows) {
  std::string text = "|";
  std::string rule = "|";
  for (const std::string& cell : head) {
    text += " " + cell + " |";
    rule += "---|";
  }
  text += "\n" + rule + "\n";
  for (const Row& row : rows) {
    text += "|";
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string cell = i == 2 ? "`" + row[i] + "`" : MarkdownCell(row[i]);
      text += " " + cell + (cell.empty() ? "|" : " |");
    }
    text += "\n";
  }
  return text;
}

std::string MarkdownCommand(const CommandInfo& command) {
  std::string text = "<a id=\"" + Lower(command.code) + "\"></a>\n";
  text += "### " + std::string(command.code) + ": " + command.summary + "\n\n";
  std::string table = TableText(command);
  table[0] = static_cast<char>(table[0] - 'a' + 'A');
  text += table + ". Success: " + SuccessText(command) + ". Failure: " + FailureNote(command) + ".\n\n";
  if (command.request.empty()) {
    text += "Request body: none.\n\n";
  } else {
    std::vector<Row> rows;
    for (const Field& field : command.request) rows.push_back(FieldRow(field, true));
    text += "Request body, " + RequestSizeText(command) + ":\n\n";
    text += MarkdownTable({"Offset", "Type", "Field", "Unit", "Accepted", "Meaning"}, rows) + "\n";
  }
  if (command.replySize == 0) {
    text += "Reply: the header alone, `length` 16.\n\n";
  } else if (command.reply.empty()) {
    text += "Reply body, " + ReplySizeText(command) + " (`length` " + std::to_string(16 + command.replySize) +
            "): all zero.\n\n";
  } else {
    std::vector<Row> rows;
    for (const Field& field : command.reply) rows.push_back(FieldRow(field, false));
    text += "Reply body, " + ReplySizeText(command) + " (`length` " + std::to_string(16 + command.replySize) + "):\n\n";
    text += MarkdownTable({"Offset", "Type", "Field", "Unit", "Meaning"}, rows) + "\n";
  }
  if (command.note[0] != '\0') text += std::string(command.note) + "\n\n";
  return text;
}

}  // namespace

std::string ListCommands() {
  std::vector<Row> rows;
  for (const CommandInfo& command : CommandCatalogue()) {
    rows.push_back({command.code, TableName(command.table), command.summary});
  }
  return Columns(rows, "");
}

std::string DescribeCommand(const CommandInfo& command) {
  std::string text = std::string(command.code) + ": " + command.summary + "\n";
  text += "  " + TableText(command) + "\n";
  text += "request body: " + RequestSizeText(command) + "\n";
  std::vector<Row> request;
  for (const Field& field : command.request) request.push_back(FieldRow(field, true));
  text += Columns(request, "  ");
  text += "reply body: " + ReplySizeText(command) + ", length " + std::to_string(16 + command.replySize) + "\n";
  std::vector<Row> reply;
  for (const Field& field : command.reply) reply.push_back(FieldRow(field, false));
  text += Columns(reply, "  ");
  text += "success: " + SuccessText(command) + "\n";
  text += "failure: " + FailureNote(command) + "\n";
  if (command.note[0] != '\0') text += "note: " + std::string(command.note) + "\n";
  return text;
}

// The intro with its {all}, {base} and {extended} counted from the catalogue.
std::string Intro() {
  std::size_t base = 0;
  std::size_t extended = 0;
  for (const CommandInfo& command : CommandCatalogue()) ++(command.table == CommandTableKind::kBase ? base : extended);
  std::string text = kMarkdownIntro;
  auto fill = [&text](std::string_view mark, std::size_t count) {
    text.replace(text.find(mark), mark.size(), std::to_string(count));
  };
  fill("{all}", base + extended);
  fill("{base}", base);
  fill("{extended}", extended);
  return text;
}

std::string CatalogueMarkdown() {
  std::string text = Intro();
  std::vector<Row> index;
  for (const CommandInfo& command : CommandCatalogue()) {
    std::string link = "[";
    link.append(command.code).append("](#").append(Lower(command.code)).append(")");
    index.push_back({std::move(link), TableName(command.table),
                     command.summary, RequestSizeText(command), ReplySizeText(command)});
  }
  // The index's code column is a link, not a name: no backquotes.
  std::string table = "| Code | Table | Summary | Request | Reply |\n|---|---|---|---|---|\n";
  for (const Row& row : index) {
    table += "| " + row[0] + " | " + row[1] + " | " + MarkdownCell(row[2]) + " | " + row[3] + " | " + row[4] + " |\n";
  }
  text += table + "\n";
  for (const CommandInfo& command : CommandCatalogue()) text += MarkdownCommand(command);
  text.pop_back();  // one newline at the end of the file
  return text;
}

}  // namespace vesk::client
