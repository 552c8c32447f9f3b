// vesk-client: send one command to a VESK service and show the reply.
//
//   vesk-client FXSR
//   vesk-client --port 22300 EMGS s32:1000 --show u32@0
//   vesk-client IFSS "str:C:\images\a.bmp"
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "client/vesk_client.h"
#include "protocol/wire.h"

namespace {

// "f32@4": show the body field of that type at that offset.
bool ShowField(const std::string& spec, const std::vector<std::uint8_t>& body) {
  const std::size_t at = spec.find('@');
  if (at == std::string::npos) return false;
  const std::string type = spec.substr(0, at);
  const std::size_t offset = std::stoul(spec.substr(at + 1));
  const std::size_t width = type == "s16" || type == "u16" ? 2 : 4;
  if (offset + width > body.size()) {
    std::printf("%s: beyond the %zu-byte body\n", spec.c_str(), body.size());
    return true;
  }
  const std::uint8_t* p = body.data() + offset;
  if (type == "s16") {
    std::printf("%s = %d\n", spec.c_str(), vesk::ReadS16(p));
  } else if (type == "u16") {
    std::printf("%s = %u\n", spec.c_str(), vesk::ReadU16(p));
  } else if (type == "s32") {
    std::printf("%s = %d\n", spec.c_str(), vesk::ReadS32(p));
  } else if (type == "u32") {
    std::printf("%s = %u\n", spec.c_str(), vesk::ReadU32(p));
  } else if (type == "f32") {
    std::printf("%s = %g\n", spec.c_str(), static_cast<double>(vesk::FloatFromWire(p)));
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Send one command to a VESK service and show the reply."};
  std::string host = "127.0.0.1";
  std::uint16_t port = 22300;
  std::uint32_t timeoutMs = 200000;  // image capture with saving may take 180 s
  std::string code;
  std::vector<std::string> fields;
  std::vector<std::string> shows;
  app.add_option("--host", host, "service address");
  app.add_option("--port", port, "service port");
  app.add_option("--timeout-ms", timeoutMs, "how long to wait for the reply");
  app.add_option("--show", shows, "decode a body field: s16@OFF, u16@OFF, s32@OFF, u32@OFF, f32@OFF");
  app.add_option("code", code, "four-letter command code, e.g. FXSR")->required();
  app.add_option("fields", fields, "request body fields: s16:N u16:N s32:N u32:N f32:X hex:0A0B str:TEXT");
  CLI11_PARSE(app, argc, argv);

  std::vector<std::uint8_t> body;
  std::string error;
  for (const std::string& field : fields) {
    if (!vesk::client::EncodeField(field, body, error)) {
      std::fprintf(stderr, "vesk-client: %s\n", error.c_str());
      return 2;
    }
  }
  vesk::client::Connection connection;
  if (!connection.Open(host, port, timeoutMs)) {
    std::fprintf(stderr, "vesk-client: cannot connect to %s:%u\n", host.c_str(), port);
    return 1;
  }
  vesk::client::Reply reply;
  if (!connection.Call(code, body, reply, error)) {
    std::fprintf(stderr, "vesk-client: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s status %d length %u magic %s\n", code.c_str(), reply.status, reply.length,
              reply.magic == "BS!a" ? "BS!a" : "(request's own: code not served)");
  std::printf("body:");
  for (std::size_t i = 0; i < reply.body.size(); ++i) std::printf("%s%02X", i % 16 == 0 ? "\n  " : " ", reply.body[i]);
  std::printf("\n");
  for (const std::string& spec : shows) {
    if (!ShowField(spec, reply.body)) std::fprintf(stderr, "vesk-client: bad --show '%s'\n", spec.c_str());
  }
  return 0;
}
