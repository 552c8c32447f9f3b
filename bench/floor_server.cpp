// The floor the benchmark compares VESK with: the least a server of this
// protocol must do. One thread per connection, requests framed by their
// header, one process-wide lock held across a trivial dispatch and the
// send, as in VESK; the reply is a fixed one of VESK's length for the code.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/request_mix.h"
#include "platform/platform.h"
#include "protocol/message.h"

namespace {

plat::Lock& ProcessLock() {
  static plat::Lock* lock = new plat::Lock;
  return *lock;
}

bool ReceiveExactly(plat::SocketHandle socket, std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t received = 0;
  while (received < count) {
    const int n = plat::Platform().recv(socket, buffer + received, static_cast<int>(count - received), 0);
    if (n <= 0) return false;
    received += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool SendAll(plat::SocketHandle socket, const std::uint8_t* data, int count) {
  int sent = 0;
  while (sent < count) {
    const int n = plat::Platform().send(socket, data + sent, count - sent);
    if (n <= 0) return false;
    sent += n;
  }
  return true;
}

// Unknown codes come back unchanged, as from VESK.
void Dispatch(std::uint8_t* message) {
  const std::uint16_t length = vesk::bench::MixReplyLength(message + vesk::header::kCode);
  if (length == 0) return;
  std::memcpy(message + vesk::header::kMagic, vesk::kReplyMagic, sizeof vesk::kReplyMagic);
  vesk::WriteU16(message + vesk::header::kLength, length);
  vesk::WriteS16(message + vesk::header::kStatus, static_cast<std::int16_t>(length - vesk::kHeaderSize));
}

void Serve(void* raw) {
  const auto socket = static_cast<plat::SocketHandle>(reinterpret_cast<std::intptr_t>(raw));
  alignas(8) std::uint8_t message[vesk::kMessageBufferSize] = {};
  for (;;) {
    if (!ReceiveExactly(socket, message, vesk::kHeaderSize)) break;
    const std::uint32_t length = vesk::ReadU16(message + vesk::header::kLength);
    if (length < vesk::kHeaderSize || length > vesk::kMessageBufferSize) break;
    if (!ReceiveExactly(socket, message + vesk::kHeaderSize, length - static_cast<std::uint32_t>(vesk::kHeaderSize))) {
      break;
    }
    plat::LockGuard guard(ProcessLock());
    Dispatch(message);
    if (!SendAll(socket, message, vesk::ReadU16(message + vesk::header::kLength))) break;
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
  if (os.socketStartup() != 0) return 1;
  const plat::SocketHandle listening = os.openStreamSocket();
  if (listening == plat::kInvalidSocket || os.bindAnyAddress(listening, static_cast<std::uint16_t>(port)) != 0 ||
      os.listen(listening, 5) != 0) {
    std::fprintf(stderr, "vesk-bench-floor: cannot listen on port %ld (socket error %d)\n", port,
                 os.lastSocketError());
    return 1;
  }
  for (;;) {
    const plat::SocketHandle accepted = os.accept(listening);
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
