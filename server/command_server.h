// The command server: a TCP listener with 20 client slots, one thread per
// connection, framing of requests by their header and serialised dispatch.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "server/allow_list.h"
#include "server/command_turns.h"
#include "protocol/message.h"

namespace vesk {

inline constexpr std::uint16_t kDefaultPort = 22300;
inline constexpr int kClientSlotCount = 20;
inline constexpr int kListenBacklog = 5;
static_assert(kClientSlotCount == kTurnSeatCount);
// How long one reply may take to leave; a client that stops reading its
// replies is disconnected after this, so it cannot hold DispatchLock.
inline constexpr std::uint32_t kDefaultReplySendTimeoutMs = 10000;
// A request whose first byte has arrived must be whole within this, so a
// client that stops half-way cannot hold its slot.
inline constexpr std::uint32_t kDefaultRequestTimeoutMs = 30000;
// With every slot busy, a connection idle for longer than this (no request
// under way) is closed to make room for a new client.
inline constexpr std::uint32_t kDefaultIdleReclaimMs = 300000;
// Silence before keepalive probes begin; a vanished peer then frees its
// slot about two minutes after it went.
inline constexpr std::uint32_t kDefaultKeepAliveMs = 60000;
// At most this many connections from one address (0: no limit). Half the
// slots: a lab computer running a viewer and several scripts fits, and no
// single computer, careless or hostile, can keep the other half from
// everyone else.
inline constexpr int kDefaultMaxPerAddress = 10;
// With every slot busy, a connection whose request has been incomplete for
// longer than this is closed for a newcomer before any idle one: a whole
// request crosses a lab network in milliseconds.
inline constexpr std::uint32_t kIncompleteReclaimMs = 1000;
// Pause between attempts to bind a port that is taken.
inline constexpr std::uint32_t kBindRetryPauseMs = 2000;

class CommandServer;

struct ClientSlot {
  plat::SocketHandle socket = plat::kInvalidSocket;  // kInvalidSocket: free
  int index = 0;
  plat::Lock lock;  // guards the change of socket between free and busy
  std::uint32_t expectedLength = 0;
  std::uint8_t* header = nullptr;
  std::uint8_t* body = nullptr;
  char clientName[256] = {};  // printed on departure; never filled
  // Read by the listener when it looks for an idle slot to reclaim.
  std::atomic<bool> requestUnderWay{false};
  std::atomic<std::uint32_t> idleSinceTick{0};
  // Part of a request has arrived, not yet all of it; since when.
  std::atomic<bool> receivingRequest{false};
  std::atomic<std::uint32_t> requestSinceTick{0};
  std::uint32_t peer = 0;  // IPv4 address in host order, 0 when unknown; changed under lock
  alignas(8) std::uint8_t messageBuffer[kMessageBufferSize] = {};
  CommandServer* server = nullptr;
};

class CommandServer {
 public:
  CommandServer();
  // Stops the server and waits for every thread that uses it.
  ~CommandServer();
  CommandServer(const CommandServer&) = delete;
  CommandServer& operator=(const CommandServer&) = delete;

  // The listener thread's body: starts the socket library, binds the port on
  // every local address and accepts until Stop. Returns when start-up fails
  // or the server stops.
  void RunListener(std::uint16_t port);

  // Starts RunListener(port) on a thread of its own; false if no thread.
  bool StartListener(std::uint16_t port);

  // Waits until the listener listens (its port, useful with port 0) or has
  // given up (-1), at most timeoutMs.
  int WaitUntilListening(std::uint32_t timeoutMs);

  // Stops accepting, ends every connection and waits for the threads, at
  // most connectionWaitMs for connections still busy with a command. Safe
  // to call more than once, and from an exit handler.
  void Stop(std::uint32_t connectionWaitMs = 5000);

  void SetReplySendTimeout(std::uint32_t milliseconds) { replySendTimeoutMs_ = milliseconds; }
  // Each time in milliseconds; 0 turns the feature off.
  void SetRequestTimeout(std::uint32_t milliseconds) { requestTimeoutMs_ = milliseconds; }
  void SetIdleReclaim(std::uint32_t milliseconds) { idleReclaimMs_ = milliseconds; }
  void SetKeepAlive(std::uint32_t milliseconds) { keepAliveMs_ = milliseconds; }
  // Connections one address may hold at once; 0: as many as there are
  // slots. A value given on the command line is pinned: the registry's
  // setting then does not replace it.
  void SetMaxPerAddress(int connections) {
    if (!maxPerAddressPinned_.load()) maxPerAddress_ = connections;
  }
  void PinMaxPerAddress(int connections) {
    maxPerAddress_ = connections;
    maxPerAddressPinned_ = true;
  }
  int MaxPerAddress() const { return maxPerAddress_.load(); }

  // The addresses that may connect (empty: all). Change it only before the
  // listener starts; the listener reads it without a lock.
  AllowList& AllowedClients() { return allowedClients_; }

  // Number of busy slots, for diagnostics and tests.
  int BusySlotCount();

  // Who runs the next command.
  CommandTurns& Turns() { return turns_; }

 private:
  friend void ServeConnection(ClientSlot& slot);
  plat::SocketHandle BindWhenFree(std::uint16_t port);
  bool PauseUnlessStopping(std::uint32_t milliseconds);
  void AcceptLoop();
  void AssignConnection(plat::SocketHandle socket, std::uint32_t peer);
  bool TakeSlot(plat::SocketHandle socket, std::uint32_t peer);
  int ConnectionsFrom(std::uint32_t peer);
  bool ReclaimSlot();
  ClientSlot* SlowestSender(std::uint32_t now, std::uint32_t* incompleteMs);
  ClientSlot* IdlestConnection(std::uint32_t now, std::uint32_t* idleMs);
  bool CloseForNewcomer(ClientSlot& slot);
  void RefuseConnection(plat::SocketHandle socket);
  void TurnAwayStranger(plat::SocketHandle socket, std::uint32_t peer);
  void ConnectionEnded();

  std::atomic<std::int32_t> winsockStarted_{0};
  std::atomic<plat::SocketHandle> listenSocket_{plat::kInvalidSocket};
  ClientSlot slots_[kClientSlotCount];

  std::atomic<bool> stopping_{false};
  std::atomic<int> listeningPort_{0};  // 0: not yet, -1: gave up
  plat::Event listenerSettled_;
  plat::ThreadHandle listenerThread_ = nullptr;
  plat::Lock stopLock_;
  plat::WaitGroup connections_;
  std::atomic<std::uint32_t> replySendTimeoutMs_{kDefaultReplySendTimeoutMs};
  std::atomic<std::uint32_t> requestTimeoutMs_{kDefaultRequestTimeoutMs};
  std::atomic<std::uint32_t> idleReclaimMs_{kDefaultIdleReclaimMs};
  std::atomic<std::uint32_t> keepAliveMs_{kDefaultKeepAliveMs};
  std::atomic<int> maxPerAddress_{kDefaultMaxPerAddress};
  std::atomic<bool> maxPerAddressPinned_{false};
  AllowList allowedClients_;
  CommandTurns turns_;
};

// The one server of the service process. Built on first use and never
// destroyed; its clean-up (Stop) is registered with the exit handlers.
CommandServer& TheCommandServer();

// The process-wide lock that lets only one command run at a time. It is
// never destroyed, so a thread still finishing a command during exit can
// never use a deleted lock.
plat::Lock& DispatchLock();

// Serves one connection until the client leaves; the body of its thread.
void ServeConnection(ClientSlot& slot);

// The local host's first IPv4 address in dotted form; false when the host
// name is unavailable, empty or does not resolve.
bool ResolveLocalAddress(char* dotted, int size);

}  // namespace vesk
