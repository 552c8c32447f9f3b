// POSIX sockets behind the platform table, reporting Windows Sockets numbers.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/native_api.h"

namespace plat::native {
namespace {

thread_local int lastError = 0;

// errno to the Windows Sockets number of the same meaning.
int WsaFromErrno(int error) {
  switch (error) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10035;  // also EWOULDBLOCK, and a send time-out
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return error;
  }
}

int Fail() {
  lastError = WsaFromErrno(errno);
  return -1;
}

}  // namespace

int SocketStartup() { return 0; }
void SocketCleanup() {}
int LastSocketError() { return lastError; }

SocketHandle OpenStreamSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail();
    return kInvalidSocket;
  }
  // A restarted service must be able to bind while old connections linger
  // in TIME_WAIT; a port held by a live listener still fails with 10048.
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return fd;
}

int BindAnyAddress(SocketHandle socket, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return Fail();
  }
  return 0;
}

int Listen(SocketHandle socket, int backlog) {
  return ::listen(static_cast<int>(socket), backlog) == 0 ? 0 : Fail();
}

SocketHandle Accept(SocketHandle socket, std::uint32_t* peerIPv4) {
  for (;;) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    int fd = ::accept4(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (fd >= 0) {
      if (peerIPv4 != nullptr) *peerIPv4 = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
      return fd;
    }
    if (errno == EINTR) continue;
    Fail();
    return kInvalidSocket;
  }
}

int Recv(SocketHandle socket, void* buffer, int count, int flags) {
  int native = (flags & kRecvPeek) != 0 ? MSG_PEEK : 0;
  for (;;) {
    ssize_t n = ::recv(static_cast<int>(socket), buffer, static_cast<std::size_t>(count), native);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    return Fail();
  }
}

int Send(SocketHandle socket, const void* data, int count) {
  for (;;) {
    // MSG_NOSIGNAL: a peer that went away gives an error, not SIGPIPE.
    ssize_t n = ::send(static_cast<int>(socket), data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    return Fail();
  }
}

int CloseSocket(SocketHandle socket) {
  return ::close(static_cast<int>(socket)) == 0 ? 0 : Fail();
}

int ShutdownSocket(SocketHandle socket) {
  return ::shutdown(static_cast<int>(socket), SHUT_RDWR) == 0 ? 0 : Fail();
}

namespace {
int SetTimeout(SocketHandle socket, int option, std::uint32_t milliseconds) {
  timeval timeout{};
  timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
  timeout.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, option, &timeout, sizeof timeout) == 0 ? 0
                                                                                                     : Fail();
}
}  // namespace

int SetSendTimeout(SocketHandle socket, std::uint32_t milliseconds) {
  return SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

int SetReceiveTimeout(SocketHandle socket, std::uint32_t milliseconds) {
  return SetTimeout(socket, SO_RCVTIMEO, milliseconds);
}

SocketHandle ConnectTo(const char* host, std::uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
    lastError = 11001;
    return kInvalidSocket;
  }
  sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail();
    return kInvalidSocket;
  }
  while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) continue;
    Fail();
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

int LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return Fail();
  }
  return ntohs(address.sin_port);
}

int HostName(char* buffer, int size) {
  if (::gethostname(buffer, static_cast<std::size_t>(size)) != 0) return Fail();
  buffer[size - 1] = '\0';
  return 0;
}

int ResolveIPv4(const char* name, char* dotted, int size) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    lastError = 11001;  // host not found
    return -1;
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const char* text = ::inet_ntop(AF_INET, &address->sin_addr, dotted, static_cast<socklen_t>(size));
  ::freeaddrinfo(found);
  return text != nullptr ? 0 : Fail();
}

namespace {
// Probes after the first: every 10 s, given up after 6 unanswered ones.
constexpr int kKeepAliveIntervalS = 10;
constexpr int kKeepAliveProbes = 6;

int SetIntOption(int fd, int level, int option, int value) {
  return ::setsockopt(fd, level, option, &value, sizeof value) == 0 ? 0 : Fail();
}
}  // namespace

int SetKeepAlive(SocketHandle socket, std::uint32_t idleMs) {
  const int fd = static_cast<int>(socket);
  if (SetIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, idleMs != 0 ? 1 : 0) != 0) return -1;
  if (idleMs == 0) return 0;
  const int idleS = static_cast<int>((idleMs + 999) / 1000);
  if (SetIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, idleS) != 0) return -1;
  if (SetIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS) != 0) return -1;
  return SetIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
}

int CanSendNow(SocketHandle socket) {
  pollfd entry{static_cast<int>(socket), POLLOUT, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, 0);
    if (ready >= 0) return ready > 0 && (entry.revents & POLLOUT) != 0 ? 1 : 0;
    if (errno == EINTR) continue;
    return Fail();
  }
}

// A peer that closed shows as readable with nothing to read.
int PeerHasLeft(SocketHandle socket) {
  pollfd entry{static_cast<int>(socket), POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0 || (entry.revents & (POLLERR | POLLNVAL)) != 0) return 1;
  if (ready == 0) return 0;
  char next = 0;
  ssize_t n = 0;
  do {
    n = ::recv(static_cast<int>(socket), &next, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) return 0;
  return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ? 1 : 0;
}

}  // namespace plat::native
