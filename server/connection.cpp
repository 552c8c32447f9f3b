// The connection loop: framing of requests by their header, dispatch under
// DispatchLock, and sending of the reply.
#include "platform/socket_stream.h"
#include "protocol/command_table.h"
#include "server/command_server.h"
#include "server/diagnostics.h"

namespace vesk {
namespace {

using plat::Arrival;

bool IsReceiveTimeout(int error) { return error == plat::kWsaEwouldblock || error == plat::kWsaEtimedout; }

// The receiving side of one connection. The socket carries the request
// time-out for good: between requests a receive that times out is simply
// made again; once a request's first byte is in, the wait is cut to what is
// left of the time-out, which costs a system call only when some of it has
// gone (a request that arrives in one piece needs none). A request is never
// dispatched before all its bytes are here.
struct Receiver final : plat::ReceivePace {
  Receiver(ClientSlot& owner, plat::SocketHandle connection, std::uint32_t timeout)
      : slot(owner), socket(connection), timeoutMs(timeout) {}

  ClientSlot& slot;
  plat::SocketHandle socket;
  std::uint32_t timeoutMs;       // 0: no limit
  bool started = false;          // a byte of the current request has arrived
  bool shortened = false;        // the socket's time-out is below timeoutMs
  std::uint32_t firstByteTick = 0;

  bool TimedOut() const {
    return timeoutMs != 0 && plat::Platform().tickCount() - firstByteTick >= timeoutMs;
  }

  bool BeforeReceive() override {
    if (!started || timeoutMs == 0) return true;
    const plat::PlatformApi& os = plat::Platform();
    const std::uint32_t elapsed = os.tickCount() - firstByteTick;
    if (elapsed >= timeoutMs) return false;
    if (elapsed > 0) {
      os.setReceiveTimeout(socket, timeoutMs - elapsed);
      shortened = true;
    }
    return true;
  }

  void Received() override {
    if (started) return;
    started = true;
    firstByteTick = plat::Platform().tickCount();
    slot.requestSinceTick.store(firstByteTick);
    slot.receivingRequest.store(true);
    slot.requestUnderWay.store(true);
  }

  bool ReceiveAgain(int result, Arrival* arrival) override {
    const bool timedOut = result < 0 && timeoutMs != 0 && IsReceiveTimeout(plat::Platform().lastSocketError());
    if (timedOut && !started) return true;  // an idle connection: wait on
    *arrival = timedOut || (result < 0 && started && TimedOut()) ? Arrival::kTooSlow : Arrival::kEnded;
    return false;
  }
};

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
  Arrival arrival = plat::ReceiveExactly(receiver.socket, slot.header, kHeaderSize, receiver);
  if (arrival == Arrival::kWhole) {
    slot.expectedLength = ReadU16(slot.header + header::kLength);
    // A length that cannot frame a message, or would not fit the buffer,
    // leaves the stream unframeable: end the connection, dispatch nothing.
    if (slot.expectedLength < kHeaderSize || slot.expectedLength > kMessageBufferSize) {
      ReportBoth("%d bad message length %u, closed.\n", slot.index, static_cast<unsigned>(slot.expectedLength));
      return false;
    }
    const std::uint32_t bodySize = slot.expectedLength - static_cast<std::uint32_t>(kHeaderSize);
    arrival = plat::ReceiveExactly(receiver.socket, slot.body, bodySize, receiver);
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

// A client gives up after a time-out of its own, never within this: a
// request that waited less for its turn is run without asking the socket
// whether its client is still there (a system call inside every turn).
constexpr std::uint64_t kPeerCheckAfterWaitUs = 10000;

// Holds the connection's turn at the instrument for one command.
class Turn {
 public:
  Turn(CommandTurns& turns, int seat) : turns_(turns), seat_(seat), waitedUs_(turns_.Take(seat_)) {}
  ~Turn() { turns_.Release(seat_); }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  std::uint64_t WaitedUs() const { return waitedUs_; }

 private:
  CommandTurns& turns_;
  int seat_;
  std::uint64_t waitedUs_;
};

// Runs the request and sends its reply, one command at a time across all
// connections, in fair turns; the reply's length, or 0 when it could not
// leave or the client left before its turn came.
int RunAndReply(ClientSlot& slot, plat::SocketHandle socket) {
  Turn turn(slot.server->Turns(), slot.index);
  // A client that gave up waiting and closed must not have its command run
  // now, long after it stopped expecting it.
  if (turn.WaitedUs() >= kPeerCheckAfterWaitUs && plat::Platform().peerHasLeft(socket) == 1) {
    ReportBoth("%d left before its turn, request not run.\n", slot.index);
    return 0;
  }
  plat::LockGuard commandLock(DispatchLock());
  DispatchCommand(slot.header, slot.body);
  const int replyLength = ReadU16(slot.header + header::kLength);
  // A reply that cannot leave within the send time-out means the client
  // stopped reading; drop it rather than hold the lock for everyone.
  return plat::SendAll(socket, slot.messageBuffer, replyLength) == 1 ? replyLength : 0;
}

}  // namespace

void ServeConnection(ClientSlot& slot) {
  const plat::SocketHandle socket = slot.socket;
  slot.header = slot.messageBuffer;
  slot.body = slot.messageBuffer + kHeaderSize;
  std::uint32_t peer = 0;
  {
    plat::LockGuard slotLock(slot.lock);
    peer = slot.peer;
  }
  slot.server->Turns().Join(slot.index, peer);
  Receiver receiver{slot, socket, slot.server->requestTimeoutMs_.load()};
  if (receiver.timeoutMs != 0) plat::Platform().setReceiveTimeout(socket, receiver.timeoutMs);

  std::uint32_t sentSinceReadCheck = 0;
  while (ReceiveRequest(receiver)) {
    slot.receivingRequest.store(false);
    // A client whose earlier replies still fill its socket would make the
    // next send wait while holding DispatchLock: close it first.
    if (sentSinceReadCheck >= kRepliesBetweenReadChecks) {
      if (plat::Platform().canSendNow(socket) != 1) {
        ReportBoth("%d replies not read, closed.\n", slot.index);
        break;
      }
      sentSinceReadCheck = 0;
    }
    const int replyLength = RunAndReply(slot, socket);
    if (replyLength == 0) break;
    sentSinceReadCheck += static_cast<std::uint32_t>(replyLength);
    EndRequest(receiver);
  }

  // Before the slot is freed: then the next connection may take the seat.
  slot.server->Turns().Leave(slot.index, peer);
  {
    plat::LockGuard slotLock(slot.lock);
    plat::Platform().closeSocket(slot.socket);
    slot.socket = plat::kInvalidSocket;
  }
  ReportDeparture(slot.index, slot.clientName);
  // The last touch of the server: after this it may be destroyed.
  slot.server->ConnectionEnded();
}

}  // namespace vesk
