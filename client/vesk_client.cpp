#include "client/vesk_client.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/socket_stream.h"
#include "protocol/message.h"
#include "protocol/wire.h"

namespace vesk::client {
namespace {

bool ParseInteger(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

void Append16(std::vector<std::uint8_t>& body, long long value) {
  body.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  body.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void Append32(std::vector<std::uint8_t>& body, long long value) {
  for (int shift = 24; shift >= 0; shift -= 8) body.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

}  // namespace

Connection::~Connection() { Close(); }

bool Connection::Open(const std::string& host, std::uint16_t port, std::uint32_t replyTimeoutMs) {
  Close();
  const plat::PlatformApi& os = plat::Platform();
  if (os.socketStartup() != 0) return false;
  socket_ = os.connectTo(host.c_str(), port);
  if (socket_ == plat::kInvalidSocket) return false;
  os.setReceiveTimeout(socket_, replyTimeoutMs);
  os.setSendTimeout(socket_, replyTimeoutMs);
  return true;
}

void Connection::Close() {
  if (socket_ != plat::kInvalidSocket) {
    plat::Platform().closeSocket(socket_);
    socket_ = plat::kInvalidSocket;
  }
}

bool Connection::ReceiveExactly(std::uint8_t* buffer, std::size_t count) {
  return plat::ReceiveExactly(socket_, buffer, static_cast<std::uint32_t>(count)) == plat::Arrival::kWhole;
}

bool Connection::Call(const std::string& code, const std::vector<std::uint8_t>& body, Reply& reply,
                      std::string& error) {
  if (socket_ == plat::kInvalidSocket) {
    error = "not connected";
    return false;
  }
  if (code.size() != 4) {
    error = "a command code has four characters";
    return false;
  }
  if (body.size() > kMaxBodySize) {
    error = "a request body holds at most 1008 bytes";
    return false;
  }
  std::vector<std::uint8_t> request(kHeaderSize + body.size(), 0);
  WriteU16(request.data(), static_cast<std::uint16_t>(request.size()));
  std::memcpy(request.data() + header::kCode, code.data(), 4);
  if (!body.empty()) std::memcpy(request.data() + kHeaderSize, body.data(), body.size());
  const bool sendFailed = plat::SendAll(socket_, request.data(), static_cast<int>(request.size())) == 0;
  // After any failure from here on the connection is closed: a reply that
  // arrives late would otherwise be read as the next request's.
  auto fail = [this, &error](const char* text) {
    error = text;
    Close();
    return false;
  };
  // Even when sending failed, a refusal may be waiting: a refused client is
  // told so at once and disconnected.
  std::uint8_t head[kHeaderSize];
  constexpr std::uint32_t kRefusalSize = sizeof kRefusalText - 1;
  if (!ReceiveExactly(head, kRefusalSize)) {
    return fail(sendFailed ? "sending failed" : "no reply (connection closed or timed out)");
  }
  if (std::memcmp(head, kRefusalText, kRefusalSize) == 0) return fail("refused: the service already serves 20 clients, or as many from this computer as it allows");
  if (sendFailed) return fail("sending failed");
  if (!ReceiveExactly(head + kRefusalSize, kHeaderSize - kRefusalSize)) return fail("reply header cut off");
  reply.length = ReadU16(head);
  reply.status = ReadS16(head + header::kStatus);
  reply.magic.assign(reinterpret_cast<const char*>(head + header::kMagic), 4);
  if (reply.length < kHeaderSize || reply.length > kMessageBufferSize) return fail("reply with an impossible length");
  reply.body.assign(reply.length - kHeaderSize, 0);
  if (!reply.body.empty() && !ReceiveExactly(reply.body.data(), reply.body.size())) {
    return fail("reply body cut off");
  }
  reply.raw.assign(head, head + kHeaderSize);
  reply.raw.insert(reply.raw.end(), reply.body.begin(), reply.body.end());
  // A served reply carries "BS!a" and the request's code; an unserved code
  // comes back as the request itself. Anything else answers another request.
  const bool ownCode = std::memcmp(head + header::kCode, code.data(), 4) == 0;
  if (!ownCode || (reply.magic != "BS!a" && reply.raw != request)) return fail("reply does not answer this request");
  return true;
}

bool EncodeField(const std::string& field, std::vector<std::uint8_t>& body, std::string& error) {
  const std::size_t colon = field.find(':');
  if (colon == std::string::npos) {
    error = "field '" + field + "' has no type (s16:, u16:, s32:, u32:, f32:, hex:, str:)";
    return false;
  }
  const std::string type = field.substr(0, colon);
  const std::string text = field.substr(colon + 1);
  long long value = 0;
  if (type == "s16" && ParseInteger(text, -32768, 32767, value)) {
    Append16(body, value);
  } else if (type == "u16" && ParseInteger(text, 0, 65535, value)) {
    Append16(body, value);
  } else if (type == "s32" && ParseInteger(text, INT32_MIN, INT32_MAX, value)) {
    Append32(body, value);
  } else if (type == "u32" && ParseInteger(text, 0, UINT32_MAX, value)) {
    Append32(body, value);
  } else if (type == "f32" && !text.empty()) {
    char* end = nullptr;
    const float f = std::strtof(text.c_str(), &end);
    if (*end != '\0') {
      error = "'" + text + "' is not a number";
      return false;
    }
    const WireFloat wire = FloatToWire(f);
    body.insert(body.end(), wire.begin(), wire.end());
  } else if (type == "hex" && text.size() % 2 == 0) {
    for (std::size_t i = 0; i < text.size(); i += 2) {
      long long byte = 0;
      if (!ParseInteger("0x" + text.substr(i, 2), 0, 255, byte)) {
        error = "'" + text + "' is not hexadecimal";
        return false;
      }
      body.push_back(static_cast<std::uint8_t>(byte));
    }
  } else if (type == "str") {
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(0);
  } else {
    error = "field '" + field + "' is malformed or out of range";
    return false;
  }
  return true;
}

}  // namespace vesk::client
