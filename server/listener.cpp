// The listener: socket start-up, the accept loop and the 20 client slots.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/socket_stream.h"
#include "server/command_server.h"
#include "server/diagnostics.h"
#include "server/socket_error_text.h"

namespace vesk {
namespace {

// A failing accept (out of descriptors, say) is retried after this pause
// rather than at once, so the listener cannot spin on the processor.
constexpr std::uint32_t kAcceptRetryPauseMs = 50;
// How often a pause looks whether the server is stopping.
constexpr std::uint32_t kStopCheckMs = 50;
// How long the listener waits for a reclaimed slot's thread to let it go,
// and how often it looks.
constexpr std::uint32_t kReclaimWaitMs = 2000;
constexpr std::uint32_t kReclaimPollMs = 5;

const char* LastSocketErrorText() {
  return SocketErrorText(static_cast<unsigned int>(plat::Platform().lastSocketError()));
}

struct ListenerStart {
  CommandServer* server;
  std::uint16_t port;
};

void ListenerThreadStart(void* raw) {
  ListenerStart start = *static_cast<ListenerStart*>(raw);
  delete static_cast<ListenerStart*>(raw);
  start.server->RunListener(start.port);
}

void ConnectionThreadStart(void* raw) { ServeConnection(*static_cast<ClientSlot*>(raw)); }

void StopTheCommandServer() { TheCommandServer().Stop(); }

}  // namespace

CommandServer::CommandServer() {
  for (int i = 0; i < kClientSlotCount; ++i) {
    plat::LockGuard guard(slots_[i].lock);
    slots_[i].socket = plat::kInvalidSocket;
  }
  winsockStarted_ = 0;
  listenSocket_.store(plat::kInvalidSocket);
  for (int i = 0; i < kClientSlotCount; ++i) {
    slots_[i].index = i;
    slots_[i].server = this;
  }
}

CommandServer::~CommandServer() { Stop(UINT32_MAX); }

CommandServer& TheCommandServer() {
  // Never destroyed: threads that outlive the exit handler's wait must still
  // find their slots and locks intact.
  static CommandServer* server = [] {
    auto* built = new CommandServer;
    std::atexit(StopTheCommandServer);
    return built;
  }();
  return *server;
}

plat::Lock& DispatchLock() {
  static plat::Lock* lock = new plat::Lock;
  return *lock;
}

bool ResolveLocalAddress(char* dotted, int size) {
  char name[256] = {};
  if (plat::Platform().hostName(name, sizeof name) != 0 || name[0] == '\0') return false;
  return plat::Platform().resolveIPv4(name, dotted, size) == 0;
}

bool CommandServer::StartListener(std::uint16_t port) {
  auto* start = new (std::nothrow) ListenerStart{this, port};
  if (start == nullptr) return false;
  plat::ThreadHandle thread = plat::Platform().startThread(ListenerThreadStart, start);
  if (thread == nullptr) {
    delete start;
    return false;
  }
  plat::LockGuard guard(stopLock_);
  listenerThread_ = thread;
  return true;
}

int CommandServer::WaitUntilListening(std::uint32_t timeoutMs) {
  listenerSettled_.Wait(timeoutMs);
  return listeningPort_.load();
}

void CommandServer::RunListener(std::uint16_t port) {
  const plat::PlatformApi& os = plat::Platform();
  auto giveUp = [this] {
    listeningPort_.store(-1);
    listenerSettled_.Set();
  };

  ReportToStandardError("Tessik's Draw Server\n");
  ReportToStandardError("Press Ctrl+C to shutdown.\n");

  const int startup = os.socketStartup();
  if (startup != 0) {
    ReportBoth("error at WSAStartup():%s\n", SocketErrorText(static_cast<unsigned int>(startup)));
    return giveUp();
  }
  winsockStarted_ = 1;

  char address[64] = {};
  if (ResolveLocalAddress(address, sizeof address)) {
    ReportBoth("IP Address:%s\n", address);
  } else {
    ReportBoth("Warning:Can't get local host IP address.\n");
  }

  ReportToStandardError("open...");
  const plat::SocketHandle listening = BindWhenFree(port);
  if (listening == plat::kInvalidSocket) return giveUp();

  ReportToStandardError("listen...\n");
  ReportToDebugger("listen...\n");
  if (os.listen(listening, kListenBacklog) != 0) {
    ReportBoth("error at listen():%s\n", LastSocketErrorText());
    os.closeSocket(listening);
    return giveUp();
  }

  // Published only once it listens, so that Stop's shutdown always wakes
  // the accept; Stop sets stopping_ before it looks, so one of the two
  // always sees the other.
  listenSocket_.store(listening);
  const int bound = os.localPort(listening);
  listeningPort_.store(bound > 0 ? bound : port);
  listenerSettled_.Set();
  AcceptLoop();
}

// A socket bound to the port. A taken port is tried again every few
// seconds, its error written only the first time, so the service starts
// serving as soon as the port is free. kInvalidSocket when no socket can be
// had or the server stops first.
plat::SocketHandle CommandServer::BindWhenFree(std::uint16_t port) {
  const plat::PlatformApi& os = plat::Platform();
  for (bool first = true;; first = false) {
    // A fresh socket each time: one whose bind failed is not reliably
    // reusable on every platform.
    const plat::SocketHandle socket = os.openStreamSocket();
    if (socket == plat::kInvalidSocket) {
      ReportBoth("error at socket():%s\n", LastSocketErrorText());
      return plat::kInvalidSocket;
    }
    if (first) {
      ReportToStandardError("bind...");
      ReportToDebugger("bind...");
    }
    if (os.bindAnyAddress(socket, port) == 0) return socket;
    if (first) ReportBoth("error at bind():%s\n", LastSocketErrorText());
    os.closeSocket(socket);
    if (!PauseUnlessStopping(kBindRetryPauseMs)) return plat::kInvalidSocket;
  }
}

// Sleeps in short steps so that Stop is not kept waiting; false when the
// server is stopping.
bool CommandServer::PauseUnlessStopping(std::uint32_t milliseconds) {
  const plat::PlatformApi& os = plat::Platform();
  const std::uint32_t start = os.tickCount();
  while (!stopping_.load()) {
    const std::uint32_t elapsed = os.tickCount() - start;
    if (elapsed >= milliseconds) return true;
    os.sleepMs(milliseconds - elapsed < kStopCheckMs ? milliseconds - elapsed : kStopCheckMs);
  }
  return false;
}

void CommandServer::AcceptLoop() {
  const plat::PlatformApi& os = plat::Platform();
  while (!stopping_.load()) {
    std::uint32_t peer = 0;
    plat::SocketHandle accepted = os.accept(listenSocket_.load(), &peer);
    if (stopping_.load()) {
      if (accepted != plat::kInvalidSocket) os.closeSocket(accepted);
      break;
    }
    if (accepted == plat::kInvalidSocket) {
      ReportBoth("error at temp accept():%s\n", LastSocketErrorText());
      os.sleepMs(kAcceptRetryPauseMs);
      continue;
    }
    // Checked before a slot is looked at, so a stranger can neither take
    // one nor make another client be refused.
    if (!allowedClients_.Allows(peer)) {
      TurnAwayStranger(accepted, peer);
      continue;
    }
    AssignConnection(accepted, peer);
  }
}

void CommandServer::AssignConnection(plat::SocketHandle accepted, std::uint32_t peer) {
  const int cap = maxPerAddress_.load();
  if (cap > 0 && peer != 0) {
    if (const int held = ConnectionsFrom(peer); held >= cap) {
      ReportBoth("%u.%u.%u.%u already has %d connections.\n", peer >> 24, (peer >> 16) & 0xFFu, (peer >> 8) & 0xFFu,
                 peer & 0xFFu, held);
      RefuseConnection(accepted);
      return;
    }
  }
  if (TakeSlot(accepted, peer)) return;
  if (ReclaimSlot() && TakeSlot(accepted, peer)) return;
  RefuseConnection(accepted);
}

int CommandServer::ConnectionsFrom(std::uint32_t peer) {
  int held = 0;
  for (ClientSlot& slot : slots_) {
    plat::LockGuard guard(slot.lock);
    if (slot.socket != plat::kInvalidSocket && slot.peer == peer) ++held;
  }
  return held;
}

// Gives the connection the lowest free slot and its thread; false when no
// slot is free.
bool CommandServer::TakeSlot(plat::SocketHandle accepted, std::uint32_t peer) {
  const plat::PlatformApi& os = plat::Platform();
  // Each slot's lock is held only while looking at it, and across the store
  // of the new socket.
  for (ClientSlot& slot : slots_) {
    {
      plat::LockGuard guard(slot.lock);
      if (slot.socket != plat::kInvalidSocket) continue;
      slot.socket = accepted;
      slot.peer = peer;
      // Nothing of the previous client's messages may reach this one's
      // commands: a short body reads zeros until a longer message came.
      std::memset(slot.messageBuffer, 0, sizeof slot.messageBuffer);
      slot.requestUnderWay.store(false);
      slot.receivingRequest.store(false);
      slot.idleSinceTick.store(os.tickCount());
      os.setSendTimeout(accepted, replySendTimeoutMs_.load());
      os.setKeepAlive(accepted, keepAliveMs_.load());
      connections_.Add();
    }

    plat::ThreadHandle thread = os.startThread(ConnectionThreadStart, &slot);
    if (thread != nullptr) {
      os.detachThread(thread);
      return true;
    }
    // No thread for this connection: give the slot back rather than leave
    // it busy for ever.
    ReportBoth("error at _beginthread(): connection %d closed.\n", slot.index);
    {
      plat::LockGuard guard(slot.lock);
      os.closeSocket(slot.socket);
      slot.socket = plat::kInvalidSocket;
    }
    connections_.Done();
    return true;
  }
  return false;
}

// Every slot is busy: a connection that has been sending its request for
// too long (a slow or stalled sender), else the one idle longest beyond the
// reclaim time, is closed to make room. True once a slot is free.
bool CommandServer::ReclaimSlot() {
  const std::uint32_t now = plat::Platform().tickCount();
  std::uint32_t waitedMs = 0;
  if (ClientSlot* slow = SlowestSender(now, &waitedMs)) {
    ReportBoth("%d request incomplete for %u ms, closed for a new client.\n", slow->index,
               static_cast<unsigned>(waitedMs));
    return CloseForNewcomer(*slow);
  }
  if (ClientSlot* idle = IdlestConnection(now, &waitedMs)) {
    ReportBoth("%d idle for %u ms, closed for a new client.\n", idle->index, static_cast<unsigned>(waitedMs));
    return CloseForNewcomer(*idle);
  }
  // A slot may have come free while looking.
  return BusySlotCount() < kClientSlotCount;
}

// The connection whose incomplete request began longest ago, beyond
// kIncompleteReclaimMs; nullptr when none.
ClientSlot* CommandServer::SlowestSender(std::uint32_t now, std::uint32_t* incompleteMs) {
  ClientSlot* slowest = nullptr;
  for (ClientSlot& slot : slots_) {
    plat::LockGuard guard(slot.lock);
    if (slot.socket == plat::kInvalidSocket || !slot.receivingRequest.load()) continue;
    const std::uint32_t waited = now - slot.requestSinceTick.load();
    if (waited > kIncompleteReclaimMs && (slowest == nullptr || waited > *incompleteMs)) {
      slowest = &slot;
      *incompleteMs = waited;
    }
  }
  return slowest;
}

// The connection idle longest, beyond the reclaim time; nullptr when none
// or reclaiming idle connections is off. On a tie, the lowest slot.
ClientSlot* CommandServer::IdlestConnection(std::uint32_t now, std::uint32_t* idleMs) {
  const std::uint32_t limit = idleReclaimMs_.load();
  if (limit == 0) return nullptr;
  ClientSlot* idlest = nullptr;
  for (ClientSlot& slot : slots_) {
    plat::LockGuard guard(slot.lock);
    if (slot.socket == plat::kInvalidSocket || slot.requestUnderWay.load()) continue;
    const std::uint32_t idle = now - slot.idleSinceTick.load();
    if (idle > limit && (idlest == nullptr || idle > *idleMs)) {
      idlest = &slot;
      *idleMs = idle;
    }
  }
  return idlest;
}

// Wakes the connection's own thread, which closes the socket and frees the
// slot; true once it has.
bool CommandServer::CloseForNewcomer(ClientSlot& slot) {
  const plat::PlatformApi& os = plat::Platform();
  {
    plat::LockGuard guard(slot.lock);
    if (slot.socket != plat::kInvalidSocket) os.shutdownSocket(slot.socket);
  }
  const std::uint32_t start = os.tickCount();
  for (;;) {
    {
      plat::LockGuard guard(slot.lock);
      if (slot.socket == plat::kInvalidSocket) return true;
    }
    if (os.tickCount() - start >= kReclaimWaitMs) return false;
    os.sleepMs(kReclaimPollMs);
  }
}

void CommandServer::RefuseConnection(plat::SocketHandle accepted) {
  const plat::PlatformApi& os = plat::Platform();
  const auto* refusal = reinterpret_cast<const std::uint8_t*>(kRefusalText);
  if (plat::SendAll(accepted, refusal, sizeof kRefusalText - 1) == 0) {
    ReportBoth("waring at send byebye:%d,%s\n", kClientSlotCount, LastSocketErrorText());
  }
  if (os.closeSocket(accepted) != 0) {
    ReportBoth("error at closesocket():%s\n", LastSocketErrorText());
  }
  ReportBoth("refused.\n");
}

void CommandServer::TurnAwayStranger(plat::SocketHandle accepted, std::uint32_t peer) {
  plat::Platform().closeSocket(accepted);
  ReportBoth("not allowed: %u.%u.%u.%u is not on the allow-list, closed.\n", peer >> 24, (peer >> 16) & 0xFFu,
             (peer >> 8) & 0xFFu, peer & 0xFFu);
}

void CommandServer::ConnectionEnded() { connections_.Done(); }

int CommandServer::BusySlotCount() {
  int busy = 0;
  for (ClientSlot& slot : slots_) {
    plat::LockGuard guard(slot.lock);
    if (slot.socket != plat::kInvalidSocket) ++busy;
  }
  return busy;
}

void CommandServer::Stop(std::uint32_t connectionWaitMs) {
  const plat::PlatformApi& os = plat::Platform();
  plat::LockGuard stopGuard(stopLock_);
  stopping_.store(true);

  // Wake the accept, wait for the listener to leave, then close its socket.
  if (const plat::SocketHandle listening = listenSocket_.load(); listening != plat::kInvalidSocket) {
    os.shutdownSocket(listening);
  }
  if (listenerThread_ != nullptr) {
    os.joinThread(listenerThread_);
    listenerThread_ = nullptr;
  }
  if (const plat::SocketHandle listening = listenSocket_.exchange(plat::kInvalidSocket);
      listening != plat::kInvalidSocket) {
    os.closeSocket(listening);
  }
  listenerSettled_.Set();

  // Wake every connection; each thread closes its own socket and frees its
  // slot, so no socket is closed under a thread that still uses it.
  for (int i = kClientSlotCount - 1; i >= 0; --i) {
    plat::LockGuard guard(slots_[i].lock);
    if (slots_[i].socket != plat::kInvalidSocket) os.shutdownSocket(slots_[i].socket);
  }
  connections_.Wait(connectionWaitMs);

  if (winsockStarted_ == 1) {
    os.socketCleanup();
    winsockStarted_ = 0;
  }
}

}  // namespace vesk
