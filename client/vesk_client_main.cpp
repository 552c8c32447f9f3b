// vesk-client: send one command to a VESK service and show the reply.
//
//   vesk-client FXSR
//   vesk-client EMGS magnification=1000
//   vesk-client FVAS acceleratingVoltage=15
//   vesk-client IFSS 'path=C:\images\a.bmp'
//   vesk-client --port 22300 EMGS s32:1000 --hex --show u32@0
//   vesk-client --json EMGS magnification=1000     (one JSON object)
//   vesk-client --list | --describe EMGS | --markdown
#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "client/catalogue_fields.h"
#include "client/catalogue_json.h"
#include "client/catalogue_text.h"
#include "client/command_catalogue.h"
#include "client/vesk_client.h"
#include "protocol/message.h"
#include "protocol/wire.h"

namespace {

using vesk::client::CommandInfo;

// "f32@4": show the body field of that type at that offset.
bool ShowField(const std::string& shown, const std::vector<std::uint8_t>& body) {
  const std::size_t at = shown.find('@');
  if (at == std::string::npos) return false;
  const std::string type = shown.substr(0, at);
  std::size_t offset = 0;
  const char* end = shown.data() + shown.size();
  const auto [stop, failure] = std::from_chars(shown.data() + at + 1, end, offset);
  if (failure != std::errc() || stop != end) return false;
  const std::size_t width = type == "s16" || type == "u16" ? 2 : 4;
  if (offset + width > body.size()) {
    std::printf("%s: beyond the %zu-byte body\n", shown.c_str(), body.size());
    return true;
  }
  const std::uint8_t* p = body.data() + offset;
  if (type == "s16") {
    std::printf("%s = %d\n", shown.c_str(), vesk::ReadS16(p));
  } else if (type == "u16") {
    std::printf("%s = %u\n", shown.c_str(), vesk::ReadU16(p));
  } else if (type == "s32") {
    std::printf("%s = %d\n", shown.c_str(), vesk::ReadS32(p));
  } else if (type == "u32") {
    std::printf("%s = %u\n", shown.c_str(), vesk::ReadU32(p));
  } else if (type == "f32") {
    std::printf("%s = %g\n", shown.c_str(), static_cast<double>(vesk::FloatFromWire(p)));
  } else {
    return false;
  }
  return true;
}

void PrintHex(const std::vector<std::uint8_t>& body) {
  std::printf("body:");
  for (std::size_t i = 0; i < body.size(); ++i) std::printf("%s%02X", i % 16 == 0 ? "\n  " : " ", body[i]);
  std::printf("\n");
}

// Named fields through the catalogue, or typed fields in order; not both.
bool BuildBody(const std::string& code, const CommandInfo* info, const std::vector<std::string>& fields,
               std::vector<std::uint8_t>& body, std::string& error) {
  std::size_t named = 0;
  for (const std::string& field : fields) named += vesk::client::IsNamedField(field) ? 1 : 0;
  if (named == 0) {
    for (const std::string& field : fields) {
      if (!vesk::client::EncodeField(field, body, error)) return false;
    }
    return info == nullptr || vesk::client::CheckRequestBody(*info, body, error);
  }
  if (named != fields.size()) {
    error = "give the request fields either all by name (name=value) or all typed (s16:N ...), not mixed";
    return false;
  }
  if (info == nullptr) {
    error = code + " is not in the command catalogue (see --list); give its fields typed (s16:N ...)";
    return false;
  }
  return vesk::client::EncodeNamedFields(*info, fields, body, error);
}

// The reply's fields by name, and what a failure means for its body.
void PrintDecoded(const CommandInfo& info, const vesk::client::Reply& reply) {
  const bool failed = reply.status == vesk::kStatusFailed;
  if (failed) std::printf("failed: %s\n", vesk::client::FailureNote(info).c_str());
  if (failed && info.failureBody == vesk::client::FailureBody::kNotWritten) return;
  if (reply.body.size() != info.replySize) {
    std::printf("(a %zu-byte body where %s has %u bytes)\n", reply.body.size(), info.code,
                static_cast<unsigned>(info.replySize));
  }
  for (const std::string& line : vesk::client::DecodeReplyFields(info, reply.body)) {
    std::printf("%s\n", line.c_str());
  }
}

// Exit codes, so that scripts can tell the outcomes apart.
constexpr int kExitServed = 0;
constexpr int kExitFailed = 1;     // served, status -1
constexpr int kExitUsage = 2;      // nothing sent
constexpr int kExitNotServed = 3;  // the request came back unchanged
constexpr int kExitNoReply = 4;

constexpr char kExitCodesHelp[] =
    "Exit codes: 0 served, 1 served with status -1 (failed), 2 bad command line (nothing sent), "
    "3 code not served (the request came back unchanged), 4 no reply (no connection, refused, time-out, "
    "or a reply to another request).";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Send one command to a VESK service and show the reply."};
  app.footer(kExitCodesHelp);
  std::string host = "127.0.0.1";
  std::uint16_t port = 22300;
  std::uint32_t timeoutMs = 200000;  // image capture with saving may take 180 s
  std::string code;
  std::vector<std::string> fields;
  std::vector<std::string> shows;
  bool hex = false;
  bool json = false;
  bool list = false;
  bool markdown = false;
  std::string describe;
  app.add_option("--host", host, "service address");
  app.add_option("--port", port, "service port");
  app.add_option("--timeout-ms", timeoutMs, "how long to wait for the reply");
  app.add_flag("--hex", hex, "also print the reply body in hexadecimal");
  app.add_flag("--json", json,
               "print the reply as one JSON object: code, status, length, served, failed, fields by name, units "
               "(a reply that never came: code and error)");
  app.add_option("--show", shows, "decode a body field: s16@OFF, u16@OFF, s32@OFF, u32@OFF, f32@OFF");
  app.add_flag("--list", list, "list every command: code, table, summary");
  app.add_option("--describe", describe, "print the request and reply layout of a command");
  app.add_flag("--markdown", markdown, "print the protocol reference (docs/commands.md)");
  app.add_option("code", code, "four-letter command code, e.g. FXSR");
  app.add_option("fields", fields,
                 "request body fields: by name (magnification=1000), or typed in order: s16:N u16:N s32:N "
                 "u32:N f32:X hex:0A0B str:TEXT");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& failure) {
    return app.exit(failure) == 0 ? kExitServed : kExitUsage;  // --help gives 0
  }

  if (markdown) {
    std::fputs(vesk::client::CatalogueMarkdown().c_str(), stdout);
    return 0;
  }
  if (list) {
    std::fputs(vesk::client::ListCommands().c_str(), stdout);
    return 0;
  }
  if (!describe.empty()) {
    const CommandInfo* info = vesk::client::FindCommandInfo(describe);
    if (info == nullptr) {
      std::fprintf(stderr, "vesk-client: %s is not in the command catalogue (see --list)\n", describe.c_str());
      return kExitUsage;
    }
    std::fputs(vesk::client::DescribeCommand(*info).c_str(), stdout);
    return 0;
  }
  if (code.empty()) {
    std::fprintf(stderr, "vesk-client: give a command code (see --list) or --help\n");
    return kExitUsage;
  }

  const CommandInfo* info = vesk::client::FindCommandInfo(code);
  std::vector<std::uint8_t> body;
  std::string error;
  if (!BuildBody(code, info, fields, body, error)) {
    std::fprintf(stderr, "vesk-client: %s\n", error.c_str());
    return kExitUsage;
  }
  vesk::client::Connection connection;
  vesk::client::Reply reply;
  bool answered = false;
  if (!connection.Open(host, port, timeoutMs)) {
    error = "cannot connect to " + host + ":" + std::to_string(port);
  } else {
    answered = connection.Call(code, body, reply, error);
  }
  if (!answered) {
    if (json) std::fputs(vesk::client::ErrorJson(code, error).c_str(), stdout);
    std::fprintf(stderr, "vesk-client: %s\n", error.c_str());
    return kExitNoReply;
  }
  const bool served = reply.magic == "BS!a";
  if (json) {
    std::fputs(vesk::client::ReplyJson(info, code, reply).c_str(), stdout);
    if (!served) return kExitNotServed;
    return reply.status == vesk::kStatusFailed ? kExitFailed : kExitServed;
  }
  std::printf("%s status %d length %u magic %s\n", code.c_str(), reply.status, reply.length,
              served ? "BS!a" : "(request's own: code not served)");
  if (served && info != nullptr) PrintDecoded(*info, reply);
  if (hex || !served || info == nullptr) PrintHex(reply.body);
  for (const std::string& shown : shows) {
    if (!ShowField(shown, reply.body)) std::fprintf(stderr, "vesk-client: bad --show '%s'\n", shown.c_str());
  }
  if (!served) return kExitNotServed;
  return reply.status == vesk::kStatusFailed ? kExitFailed : kExitServed;
}
