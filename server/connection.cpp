// The connection loop: framing of requests by their header, dispatch under
// DispatchLock, and sending of the reply.
#include "protocol/command_table.h"
#include "server/command_server.h"
#include "server/diagnostics.h"

namespace vesk {
namespace {

enum class Arrival { kWhole, kEnded, kTooSlow };

// The receiving side of one connection. The socket carries the request
// time-out for good: between requests a receive that times out is simply
// made again; once a request's first byte is in, the wait is cut to what is
// left of the time-out, which costs a system call only when some of it has
// gone (a request that arrives in one piece needs none).
struct Receiver {
  ClientSlot& slot;
  plat::SocketHandle socket;
  std::uint32_t timeoutMs;       // 0: no limit
  bool started = false;          // a byte of the current request has arrived
  bool shortened = false;        // the socket's time-out is below timeoutMs
  std::uint32_t firstByteTick = 0;
};

bool TimedOut(const Receiver& receiver) {
  return receiver.timeoutMs != 0 && plat::Platform().tickCount() - receiver.firstByteTick >= receiver.timeoutMs;
}

bool IsReceiveTimeout(int error) { return error == plat::kWsaEwouldblock || error == plat::kWsaEtimedout; }

// Takes exactly count bytes off the socket. A request is never dispatched
// before all its bytes are here.
Arrival ReceiveExactly(Receiver& receiver, std::uint8_t* buffer, std::uint32_t count) {
  const plat::PlatformApi& os = plat::Platform();
  std::uint32_t received = 0;
  while (received < count) {
    if (receiver.started && receiver.timeoutMs != 0) {
      const std::uint32_t elapsed = os.tickCount() - receiver.firstByteTick;
      if (elapsed >= receiver.timeoutMs) return Arrival::kTooSlow;
      if (elapsed > 0) {
        os.setReceiveTimeout(receiver.socket, receiver.timeoutMs - elapsed);
        receiver.shortened = true;
      }
    }
    const int n = os.recv(receiver.socket, buffer + received, static_cast<int>(count - received), 0);
    if (n <= 0) {
      const bool timedOut = n < 0 && receiver.timeoutMs != 0 && IsReceiveTimeout(os.lastSocketError());
      if (timedOut && !receiver.started) continue;  // an idle connection: wait on
      return timedOut || (n < 0 && receiver.started && TimedOut(receiver)) ? Arrival::kTooSlow : Arrival::kEnded;
    }
    if (!receiver.started) {
      receiver.started = true;
      receiver.firstByteTick = os.tickCount();
      receiver.slot.requestUnderWay.store(true);
    }
    received += static_cast<std::uint32_t>(n);
  }
  return Arrival::kWhole;
}

// Back to waiting for the next request without limit.
void EndRequest(Receiver& receiver) {
  if (receiver.shortened) plat::Platform().setReceiveTimeout(receiver.socket, receiver.timeoutMs);
  receiver.shortened = false;
  receiver.started = false;
  receiver.slot.idleSinceTick.store(plat::Platform().tickCount());
  receiver.slot.requestUnderWay.store(false);
}

// Receives one whole request into the slot's buffer; false when the
// connection is to end.
bool ReceiveRequest(Receiver& receiver) {
  ClientSlot& slot = receiver.slot;
  Arrival arrival = ReceiveExactly(receiver, slot.header, kHeaderSize);
  if (arrival == Arrival::kWhole) {
    slot.expectedLength = ReadU16(slot.header + header::kLength);
    // A length that cannot frame a message, or would not fit the buffer,
    // leaves the stream unframeable: end the connection, dispatch nothing.
    if (slot.expectedLength < kHeaderSize || slot.expectedLength > kMessageBufferSize) {
      ReportBoth("%d bad message length %u, closed.\n", slot.index, static_cast<unsigned>(slot.expectedLength));
      return false;
    }
    arrival = ReceiveExactly(receiver, slot.body, slot.expectedLength - static_cast<std::uint32_t>(kHeaderSize));
  }
  if (arrival == Arrival::kTooSlow) {
    ReportBoth("%d request not complete within %u ms, closed.\n", slot.index,
               static_cast<unsigned>(receiver.timeoutMs));
  }
  return arrival == Arrival::kWhole;
}

// How many bytes of replies may go out between two checks that the client
// reads them. Well under what any TCP stack queues for a socket that reports
// itself writable, so the replies sent between checks never make a send
// wait; and a client that stopped reading is still caught long before its
// buffers fill. Checking every request would cost a system call each.
constexpr std::uint32_t kRepliesBetweenReadChecks = 2048;

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
  Receiver receiver{slot, socket, slot.server->requestTimeoutMs_.load()};
  if (receiver.timeoutMs != 0) plat::Platform().setReceiveTimeout(socket, receiver.timeoutMs);

  std::uint32_t sentSinceReadCheck = 0;
  while (ReceiveRequest(receiver)) {
    // A client whose earlier replies still fill its socket would make the
    // next send wait while holding DispatchLock: close it first.
    if (sentSinceReadCheck >= kRepliesBetweenReadChecks) {
      if (plat::Platform().canSendNow(socket) != 1) {
        ReportBoth("%d replies not read, closed.\n", slot.index);
        break;
      }
      sentSinceReadCheck = 0;
    }
    DispatchLock().Enter();
    DispatchCommand(slot.header, slot.body);
    const int replyLength = ReadU16(slot.header + header::kLength);
    // A reply that cannot leave within the send time-out means the client
    // stopped reading; drop it rather than hold the lock for everyone.
    const bool sent = SendAll(socket, slot.messageBuffer, replyLength) == 1;
    DispatchLock().Leave();
    if (!sent) break;
    sentSinceReadCheck += static_cast<std::uint32_t>(replyLength);
    EndRequest(receiver);
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
