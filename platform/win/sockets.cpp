// Windows Sockets 1.1 behind the platform table. The error numbers are
// Winsock's own, passed on as WSAGetLastError gives them.
#include <winsock2.h>
#include <windows.h>
// After winsock2.h: the keepalive settings of WSAIoctl.
#include <mstcpip.h>

#include <cstring>
#include <map>
#include <set>

#include "platform/native_api.h"
#include "platform/platform.h"

namespace plat::native {
namespace {

constexpr WORD kWinsockVersion = 0x0101;  // Windows Sockets 1.1
// How often a waiting accept or receive looks whether its socket was shut down.
constexpr long kWaitSliceMs = 50;

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// The socket library for this process's clients: started on the first
// client connection and kept until the process ends, so that a server's
// WSACleanup never pulls the library from under a client's socket.
void KeepSocketsStartedForClients() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(kWinsockVersion, &data) == 0;
  }();
  (void)started;
}

// Sockets that were shut down, and the receive time-outs that were set.
// On Windows shutdown() neither wakes an accept (a listening socket is not
// connected) nor, reliably, a receive that is already waiting; so Accept
// and Recv wait for data in slices of kWaitSliceMs and give up once their
// socket has been shut down. The time-out of a receive is kept here too,
// as the wait for data is ours rather than Winsock's.
// Never destroyed: threads may still close sockets while the process exits.
Lock& StateLock() {
  static Lock* lock = new Lock;
  return *lock;
}
std::set<SOCKET> shutSockets;
std::map<SOCKET, std::uint32_t> receiveTimeouts;

bool IsShut(SOCKET socket) {
  LockGuard guard(StateLock());
  return shutSockets.count(socket) != 0;
}

std::uint32_t ReceiveTimeoutOf(SOCKET socket) {
  LockGuard guard(StateLock());
  const auto found = receiveTimeouts.find(socket);
  return found != receiveTimeouts.end() ? found->second : 0;
}

// 1 when the socket has something to read (or a connection to accept, or
// its end), 0 when timeoutMs passed first (0: wait for ever), -1 when it was
// shut down or the wait failed; the socket error is set.
int WaitReadable(SOCKET socket, std::uint32_t timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (IsShut(socket)) {
      ::WSASetLastError(WSAESHUTDOWN);
      return -1;
    }
    long slice = kWaitSliceMs;
    if (timeoutMs != 0) {
      const DWORD elapsed = ::GetTickCount() - start;
      if (elapsed >= timeoutMs) {
        ::WSASetLastError(WSAETIMEDOUT);
        return 0;
      }
      if (timeoutMs - elapsed < static_cast<DWORD>(slice)) slice = static_cast<long>(timeoutMs - elapsed);
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{0, slice * 1000};
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) return -1;
    if (ready > 0) return 1;
  }
}

int Fail() { return -1; }

}  // namespace

int SocketStartup() {
  WSADATA data;
  return ::WSAStartup(kWinsockVersion, &data);  // 0 or the error number itself
}

void SocketCleanup() { ::WSACleanup(); }

int LastSocketError() { return ::WSAGetLastError(); }

SocketHandle OpenStreamSocket() {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket == INVALID_SOCKET) return kInvalidSocket;
  // Without SO_REUSEADDR (which on Windows would let a second listener take
  // a port that is in use): a port held by a live listener fails with 10048.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(socket);
}

int BindAnyAddress(SocketHandle socket, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(Native(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR) return Fail();
  return 0;
}

int Listen(SocketHandle socket, int backlog) {
  return ::listen(Native(socket), backlog) == SOCKET_ERROR ? Fail() : 0;
}

SocketHandle Accept(SocketHandle socket, std::uint32_t* peerIPv4) {
  const SOCKET listening = Native(socket);
  for (;;) {
    const int ready = WaitReadable(listening, 0);
    if (ready < 0) return kInvalidSocket;
    if (ready == 0) continue;
    sockaddr_in peer{};
    int size = sizeof peer;
    const SOCKET accepted = ::accept(listening, reinterpret_cast<sockaddr*>(&peer), &size);
    if (accepted == INVALID_SOCKET) return kInvalidSocket;
    if (peerIPv4 != nullptr) *peerIPv4 = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(accepted);
  }
}

int Recv(SocketHandle socket, void* buffer, int count, int flags) {
  const SOCKET native = Native(socket);
  if (WaitReadable(native, ReceiveTimeoutOf(native)) <= 0) return -1;
  const int n = ::recv(native, static_cast<char*>(buffer), count, (flags & kRecvPeek) != 0 ? MSG_PEEK : 0);
  return n == SOCKET_ERROR ? Fail() : n;
}

int Send(SocketHandle socket, const void* data, int count) {
  const int n = ::send(Native(socket), static_cast<const char*>(data), count, 0);
  return n == SOCKET_ERROR ? Fail() : n;
}

int CloseSocket(SocketHandle socket) {
  {
    LockGuard guard(StateLock());
    shutSockets.erase(Native(socket));
    receiveTimeouts.erase(Native(socket));
  }
  return ::closesocket(Native(socket)) == SOCKET_ERROR ? Fail() : 0;
}

int ShutdownSocket(SocketHandle socket) {
  if (::shutdown(Native(socket), SD_BOTH) == SOCKET_ERROR && ::WSAGetLastError() != WSAENOTCONN) return Fail();
  // Also for a listening socket, which cannot be shut down as such: its
  // accept, like any waiting receive, notices within one slice.
  LockGuard guard(StateLock());
  shutSockets.insert(Native(socket));
  return 0;
}

namespace {
int SetTimeout(SocketHandle socket, int option, std::uint32_t milliseconds) {
  const DWORD timeout = milliseconds;  // Winsock takes milliseconds as a DWORD
  return ::setsockopt(Native(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&timeout), sizeof timeout) ==
                 SOCKET_ERROR
             ? Fail()
             : 0;
}

// The IPv4 address of a dotted number or a host name; false when unknown.
bool LookUp(const char* host, in_addr* address) {
  const unsigned long dotted = ::inet_addr(host);
  if (dotted != INADDR_NONE || std::strcmp(host, "255.255.255.255") == 0) {
    address->s_addr = dotted;
    return true;
  }
  const hostent* entry = ::gethostbyname(host);
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
    if (entry != nullptr) ::WSASetLastError(WSAHOST_NOT_FOUND);
    return false;
  }
  std::memcpy(address, entry->h_addr_list[0], sizeof *address);
  return true;
}
}  // namespace

int SetSendTimeout(SocketHandle socket, std::uint32_t milliseconds) {
  return SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

int SetReceiveTimeout(SocketHandle socket, std::uint32_t milliseconds) {
  if (SetTimeout(socket, SO_RCVTIMEO, milliseconds) != 0) return -1;
  LockGuard guard(StateLock());
  receiveTimeouts[Native(socket)] = milliseconds;
  return 0;
}

SocketHandle ConnectTo(const char* host, std::uint16_t port) {
  KeepSocketsStartedForClients();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (host == nullptr || !LookUp(host, &address.sin_addr)) return kInvalidSocket;
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket == INVALID_SOCKET) return kInvalidSocket;
  if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    const int error = ::WSAGetLastError();
    ::closesocket(socket);
    ::WSASetLastError(error);
    return kInvalidSocket;
  }
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(socket);
}

int LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  int size = sizeof address;
  if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &size) == SOCKET_ERROR) return Fail();
  return ntohs(address.sin_port);
}

int HostName(char* buffer, int size) {
  if (::gethostname(buffer, size) == SOCKET_ERROR) return Fail();
  buffer[size - 1] = '\0';
  return 0;
}

int ResolveIPv4(const char* name, char* dotted, int size) {
  in_addr address{};
  if (name == nullptr || !LookUp(name, &address)) return -1;
  const char* text = ::inet_ntoa(address);  // a buffer of the calling thread's
  if (text == nullptr || static_cast<int>(std::strlen(text)) >= size) {
    ::WSASetLastError(WSAEFAULT);
    return -1;
  }
  std::memcpy(dotted, text, std::strlen(text) + 1);
  return 0;
}

int SetKeepAlive(SocketHandle socket, std::uint32_t idleMs) {
  // Probes every 6 s after the silence; Windows gives up after 10 of them
  // (5 on XP), about a minute.
  tcp_keepalive values{};
  values.onoff = idleMs != 0 ? 1 : 0;
  values.keepalivetime = idleMs;
  values.keepaliveinterval = 6000;
  DWORD returned = 0;
  return ::WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                    nullptr) == SOCKET_ERROR
             ? Fail()
             : 0;
}

int CanSendNow(SocketHandle socket) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(Native(socket), &writable);
  timeval now{0, 0};
  const int ready = ::select(0, nullptr, &writable, nullptr, &now);
  if (ready == SOCKET_ERROR) return Fail();
  return ready > 0 ? 1 : 0;
}

// A peer that closed shows as readable with nothing to read.
int PeerHasLeft(SocketHandle socket) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(socket), &readable);
  timeval now{0, 0};
  const int ready = ::select(0, &readable, nullptr, nullptr, &now);
  if (ready == SOCKET_ERROR) return 1;
  if (ready == 0) return 0;
  char next = 0;
  const int peeked = ::recv(Native(socket), &next, 1, MSG_PEEK);
  if (peeked >= 0) return peeked == 0 ? 1 : 0;
  const int error = ::WSAGetLastError();
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENOTCONN ? 1 : 0;
}

}  // namespace plat::native
