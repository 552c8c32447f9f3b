#include "platform/socket_stream.h"

namespace plat {

int SendAll(SocketHandle socket, const std::uint8_t* data, int count) {
  int sent = 0;
  do {
    const int n = Platform().send(socket, data + sent, count - sent);
    if (n <= 0) return 0;
    sent += n;
  } while (sent < count);
  return 1;
}

Arrival ReceiveExactly(SocketHandle socket, std::uint8_t* buffer, std::uint32_t count, ReceivePace& pace) {
  std::uint32_t received = 0;
  while (received < count) {
    if (!pace.BeforeReceive()) return Arrival::kTooSlow;
    const int n = Platform().recv(socket, buffer + received, static_cast<int>(count - received), 0);
    if (n <= 0) {
      Arrival arrival = Arrival::kEnded;
      if (pace.ReceiveAgain(n, &arrival)) continue;
      return arrival;
    }
    pace.Received();
    received += static_cast<std::uint32_t>(n);
  }
  return Arrival::kWhole;
}

Arrival ReceiveExactly(SocketHandle socket, std::uint8_t* buffer, std::uint32_t count) {
  ReceivePace asTheyCome;
  return ReceiveExactly(socket, buffer, count, asTheyCome);
}

}  // namespace plat
