// The floor the benchmark compares VESK with: the least a server of this
// protocol must do. One thread per connection, requests framed by their
// header, one process-wide lock held across a trivial dispatch and the
// send, as in VESK; the reply is a fixed one of VESK's length and status
// for the code (from the command catalogue).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/command_catalogue.h"
#include "platform/platform.h"
#include "platform/socket_stream.h"
#include "protocol/message.h"

namespace {

plat::Lock& ProcessLock() {
  static plat::Lock* lock = new plat::Lock;
  return *lock;
}

struct FixedReply {
  std::uint8_t code[4];
  std::uint16_t length;
  bool writesStatus;
  std::int16_t status;
};

FixedReply gReplies[80];
std::size_t gReplyCount = 0;

void BuildReplies() {
  for (const vesk::client::CommandInfo& command : vesk::client::CommandCatalogue()) {
    if (gReplyCount == sizeof gReplies / sizeof gReplies[0]) break;
    FixedReply& reply = gReplies[gReplyCount++];
    std::memcpy(reply.code, command.code, 4);
    reply.length = static_cast<std::uint16_t>(vesk::kHeaderSize + command.replySize);
    const std::optional<std::int16_t> status = vesk::client::SuccessStatusValue(command);
    reply.writesStatus = status.has_value();
    reply.status = status.value_or(0);
  }
}

// Unknown codes come back unchanged, as from VESK.
void Dispatch(std::uint8_t* message) {
  const std::uint8_t* code = message + vesk::header::kCode;
  for (std::size_t i = 0; i < gReplyCount; ++i) {
    const FixedReply& reply = gReplies[i];
    if (std::memcmp(reply.code, code, 4) != 0) continue;
    std::memcpy(message + vesk::header::kMagic, vesk::kReplyMagic, sizeof vesk::kReplyMagic);
    vesk::WriteU16(message + vesk::header::kLength, reply.length);
    if (reply.writesStatus) vesk::WriteS16(message + vesk::header::kStatus, reply.status);
    return;
  }
}

void Serve(void* raw) {
  const auto socket = static_cast<plat::SocketHandle>(reinterpret_cast<std::intptr_t>(raw));
  alignas(8) std::uint8_t message[vesk::kMessageBufferSize] = {};
  for (;;) {
    if (plat::ReceiveExactly(socket, message, vesk::kHeaderSize) != plat::Arrival::kWhole) break;
    const std::uint32_t length = vesk::ReadU16(message + vesk::header::kLength);
    if (length < vesk::kHeaderSize || length > vesk::kMessageBufferSize) break;
    const std::uint32_t bodySize = length - static_cast<std::uint32_t>(vesk::kHeaderSize);
    if (plat::ReceiveExactly(socket, message + vesk::kHeaderSize, bodySize) != plat::Arrival::kWhole) {
      break;
    }
    plat::LockGuard guard(ProcessLock());
    Dispatch(message);
    if (plat::SendAll(socket, message, vesk::ReadU16(message + vesk::header::kLength)) == 0) break;
  }
  plat::Platform().closeSocket(socket);
}

}  // namespace

int main(int argc, char** argv) {
  const plat::PlatformApi& os = plat::Platform();
  const long port = argc == 2 ? std::strtol(argv[1], nullptr, 10) : -1;
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "usage: vesk-bench-floor PORT\n");
    return 2;
  }
  BuildReplies();
  if (os.socketStartup() != 0) return 1;
  const plat::SocketHandle listening = os.openStreamSocket();
  if (listening == plat::kInvalidSocket || os.bindAnyAddress(listening, static_cast<std::uint16_t>(port)) != 0 ||
      os.listen(listening, 5) != 0) {
    std::fprintf(stderr, "vesk-bench-floor: cannot listen on port %ld (socket error %d)\n", port,
                 os.lastSocketError());
    return 1;
  }
  for (;;) {
    const plat::SocketHandle accepted = os.accept(listening, nullptr);
    if (accepted == plat::kInvalidSocket) {
      os.sleepMs(50);
      continue;
    }
    plat::ThreadHandle thread = os.startThread(Serve, reinterpret_cast<void*>(accepted));
    if (thread == nullptr) {
      os.closeSocket(accepted);
    } else {
      os.detachThread(thread);
    }
  }
}
