// A small client for the VESK command protocol: connect, send one request,
// read its reply. Lab-automation programs and the command-line client use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vesk::client {

struct Reply {
  std::uint16_t length = 0;
  std::int16_t status = 0;
  std::string magic;  // "BS!a" from a handler; the request's own for an unknown code
  std::vector<std::uint8_t> body;
  std::vector<std::uint8_t> raw;  // header and body as received
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // False when the service cannot be reached.
  bool Open(const std::string& host, std::uint16_t port, std::uint32_t replyTimeoutMs);
  void Close();

  // Sends code + body and waits for the reply. False when the connection
  // failed, the service refused it ("SRV ERR"), no reply came in time, or
  // the reply does not answer this request (its code or magic is wrong);
  // `error` then says which, and the connection is closed, so a late reply
  // can never be taken for a later request's.
  bool Call(const std::string& code, const std::vector<std::uint8_t>& body, Reply& reply, std::string& error);

 private:
  bool ReceiveExactly(std::uint8_t* buffer, std::size_t count);
  plat::SocketHandle socket_ = plat::kInvalidSocket;
};

// Request body fields from text: s16:N, u16:N, s32:N, u32:N, f32:X, hex:0A0B..,
// str:TEXT (NUL-terminated). False with a message on a malformed field.
bool EncodeField(const std::string& field, std::vector<std::uint8_t>& body, std::string& error);

}  // namespace vesk::client
