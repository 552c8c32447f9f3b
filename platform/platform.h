// The platform layer: every operating-system call of the service goes through
// here. Everything above this header is portable C++.
//
// Calls that tests may want to fail on purpose (sockets, thread start, time,
// output) go through one swappable table, PlatformApi; the current table is
// Platform(). Locks are a small class of their own.
//
// Socket errors are always reported as Windows Sockets error numbers (10048
// for an address in use, and so on), whatever the operating system, so that
// the server and its error texts are the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// A socket handle wide enough for a POSIX descriptor and a Winsock SOCKET.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Windows Sockets error numbers that the layer itself produces.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEaddrinuse = 10048;
inline constexpr int kWsaEtimedout = 10060;

// Flag for Recv: look at the waiting bytes without taking them.
inline constexpr int kRecvPeek = 2;

using ThreadHandle = void*;
using ThreadMain = void (*)(void* argument);

struct PlatformApi {
  // Socket library. SocketStartup returns 0 or a Windows Sockets error number.
  int (*socketStartup)();
  void (*socketCleanup)();
  int (*lastSocketError)();

  // An IPv4 stream socket, or kInvalidSocket.
  SocketHandle (*openStreamSocket)();
  // Bind to every local address on port (host order); 0 or -1.
  int (*bindAnyAddress)(SocketHandle socket, std::uint16_t port);
  int (*listen)(SocketHandle socket, int backlog);
  // A connection, and its peer's IPv4 address in host order in *peerIPv4
  // (0 when unknown; peerIPv4 may be nullptr).
  SocketHandle (*accept)(SocketHandle socket, std::uint32_t* peerIPv4);
  // As recv/send: bytes moved, 0 when the peer closed, -1 on error.
  int (*recv)(SocketHandle socket, void* buffer, int count, int flags);
  int (*send)(SocketHandle socket, const void* data, int count);
  int (*closeSocket)(SocketHandle socket);
  // Ends both directions, waking any thread blocked on the socket; the handle
  // stays valid until closed.
  int (*shutdownSocket)(SocketHandle socket);
  // A send that cannot make progress for this long fails (0: never).
  int (*setSendTimeout)(SocketHandle socket, std::uint32_t milliseconds);
  // Port (host order) a bound socket listens on, or -1.
  int (*localPort)(SocketHandle socket);
  // A receive that waits longer than this fails (0: never).
  int (*setReceiveTimeout)(SocketHandle socket, std::uint32_t milliseconds);
  // A stream socket connected to host:port (dotted IPv4 or a name), or
  // kInvalidSocket. Used by clients.
  SocketHandle (*connectTo)(const char* host, std::uint16_t port);
  // The local host name; 0 on success.
  int (*hostName)(char* buffer, int size);
  // First IPv4 address of a host name in dotted form; 0 on success.
  int (*resolveIPv4)(const char* name, char* dotted, int size);
  // TCP keepalive: a peer silent for idleMs is probed, and the connection
  // fails about a minute later if it never answers (0: no probes).
  int (*setKeepAlive)(SocketHandle socket, std::uint32_t idleMs);
  // Whether a send would be taken now without waiting: 1 yes, 0 no (the
  // peer has not read what was sent before), -1 on error.
  int (*canSendNow)(SocketHandle socket);
  // Whether the peer has closed the connection and left nothing unread:
  // 1 yes (or the connection failed), 0 no. Never waits.
  int (*peerHasLeft)(SocketHandle socket);

  // Threads. startThread returns nullptr when no thread could be started.
  ThreadHandle (*startThread)(ThreadMain main, void* argument);
  void (*joinThread)(ThreadHandle thread);
  // Lets a thread run on its own; its handle is no longer valid.
  void (*detachThread)(ThreadHandle thread);

  // Milliseconds since some fixed moment, wrapping at 2^32.
  std::uint32_t (*tickCount)();
  void (*sleepMs)(std::uint32_t milliseconds);

  // Diagnostic output. Texts are in the Japanese ANSI code page (932); a
  // platform whose terminal expects another encoding converts them.
  void (*writeStandardError)(const char* text);
  void (*writeStandardOutput)(const char* text);
  void (*debugOutput)(const char* text);
};

// The table in force; the native one unless a test installed another.
const PlatformApi& Platform();
const PlatformApi& NativePlatform();
// Installs a table (nullptr restores the native one). Only for tests, and
// only while no thread of the service is running.
void SetPlatformForTesting(const PlatformApi* api);

// A windows program (no console of its own) started from a console: it
// attaches to that console, so that the console's control events reach it,
// and the standard streams that the process was not given go there, so its
// diagnostic lines show. Call first thing. (POSIX: nothing to do.)
void UseParentConsole();

// A non-recursive lock (a critical section on Windows).
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter();
  bool TryEnter();  // true when entered without waiting
  void Leave();

 private:
  alignas(16) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

// A one-shot or resettable signal between threads, used to wait without
// spinning (for example until a listener is ready, or threads have ended).
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  void Set();
  void Reset();
  // True when set, false when the timeout (milliseconds) passed first.
  bool Wait(std::uint32_t milliseconds);

 private:
  alignas(16) unsigned char storage_[128];
};

// A wake-up for one sleeping thread, lighter than an Event: Post lets the
// next (or the current) Wait return once; posts do not add up beyond what
// the caller tracks (post only when the sleeper has not been woken yet). A
// semaphore on POSIX, an auto-reset event on Windows.
class Wakeup {
 public:
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;
  void Post();
  void Wait();

 private:
  alignas(16) unsigned char storage_[32];
};

// Counts running tasks; Wait returns when the count is back at zero. The
// last Done is the final access of the finishing thread to the object, so
// the object may be destroyed as soon as Wait has returned true.
class WaitGroup {
 public:
  WaitGroup();
  ~WaitGroup();
  WaitGroup(const WaitGroup&) = delete;
  WaitGroup& operator=(const WaitGroup&) = delete;
  void Add();
  void Done();
  // True when the count reached zero, false when the timeout came first.
  bool Wait(std::uint32_t milliseconds);

 private:
  alignas(16) unsigned char storage_[128];
};

}  // namespace plat
