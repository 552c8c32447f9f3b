// The connection loop: framing of requests by their header, dispatch under
// DispatchLock, and sending of the reply.
#include "protocol/command_table.h"
#include "server/command_server.h"
#include "server/diagnostics.h"

namespace vesk {
namespace {

// Takes exactly count bytes off the socket, blocking until they have all
// arrived; false when the client closed the connection or the socket failed
// first. A request is never dispatched before all its bytes are here.
bool ReceiveExactly(plat::SocketHandle socket, std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t received = 0;
  while (received < count) {
    const int n = plat::Platform().recv(socket, buffer + received, static_cast<int>(count - received), 0);
    if (n <= 0) return false;
    received += static_cast<std::uint32_t>(n);
  }
  return true;
}

}  // namespace

int SendAll(plat::SocketHandle socket, const std::uint8_t* data, int count) {
  int sent = 0;
  do {
    const int n = plat::Platform().send(socket, data + sent, count - sent);
    if (n <= 0) return 0;
    sent += n;
  } while (sent < count);
  return 1;
}

void ServeConnection(ClientSlot& slot) {
  const plat::SocketHandle socket = slot.socket;
  slot.header = slot.messageBuffer;
  slot.body = slot.messageBuffer + kHeaderSize;

  for (;;) {
    if (!ReceiveExactly(socket, slot.header, kHeaderSize)) break;
    slot.expectedLength = ReadU16(slot.header + header::kLength);
    // A length that cannot frame a message, or would not fit the buffer,
    // leaves the stream unframeable: end the connection, dispatch nothing.
    if (slot.expectedLength < kHeaderSize || slot.expectedLength > kMessageBufferSize) {
      ReportBoth("%d bad message length %u, closed.\n", slot.index, static_cast<unsigned>(slot.expectedLength));
      break;
    }
    if (!ReceiveExactly(socket, slot.body, slot.expectedLength - static_cast<std::uint32_t>(kHeaderSize))) break;

    DispatchLock().Enter();
    DispatchCommand(slot.header, slot.body);
    const int replyLength = ReadU16(slot.header + header::kLength);
    // A reply that cannot leave within the send time-out means the client
    // stopped reading; drop it rather than hold the lock for everyone.
    const bool sent = SendAll(socket, slot.messageBuffer, replyLength) == 1;
    DispatchLock().Leave();
    if (!sent) break;
  }

  slot.lock.Enter();
  plat::Platform().closeSocket(slot.socket);
  slot.socket = plat::kInvalidSocket;
  slot.lock.Leave();
  ReportDeparture(slot.index, slot.clientName);
  // The last touch of the server: after this it may be destroyed.
  slot.server->ConnectionEnded();
}

}  // namespace vesk
