// A connection's byte stream through the real connection loop, on a socket
// that hands out the input in chunks of the input's choosing. Every complete
// request with a frameable length must get exactly one reply (a code not
// served comes back as it was sent); a bad length ends the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/message.h"
#include "protocol/wire.h"
#include "server/command_server.h"

namespace {

const std::uint8_t* streamAt = nullptr;
std::size_t streamLeft = 0;
std::size_t chunk = 0;
std::vector<std::uint8_t> sent;

int FakeRecv(plat::SocketHandle, void* buffer, int count, int flags) {
  std::size_t n = std::min(streamLeft, static_cast<std::size_t>(count));
  if (chunk != 0) n = std::min(n, chunk);
  std::memcpy(buffer, streamAt, n);
  if ((flags & plat::kRecvPeek) == 0) {
    streamAt += n;
    streamLeft -= n;
  }
  return static_cast<int>(n);
}
int FakeSend(plat::SocketHandle, const void* data, int count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  sent.insert(sent.end(), bytes, bytes + count);
  return count;
}
int Done(plat::SocketHandle) { return 0; }
int SetTime(plat::SocketHandle, std::uint32_t) { return 0; }
int AlwaysReadsReplies(plat::SocketHandle) { return 1; }  // every reply is taken at once
void Quiet(const char*) {}

const plat::PlatformApi& FakePlatform() {
  static const plat::PlatformApi api = [] {
    plat::PlatformApi made = plat::NativePlatform();
    made.recv = FakeRecv;
    made.send = FakeSend;
    made.closeSocket = Done;
    made.shutdownSocket = Done;
    made.setSendTimeout = SetTime;
    made.setReceiveTimeout = SetTime;
    made.setKeepAlive = SetTime;
    made.canSendNow = AlwaysReadsReplies;
    made.peerHasLeft = Done;  // the client stays until its input is used up
    made.writeStandardOutput = Quiet;
    made.writeStandardError = Quiet;
    made.debugOutput = Quiet;
    return made;
  }();
  return api;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vesk;
  if (size < fuzz::kInputPrefix) return -1;
  fuzz::ResetForInput(data[0]);
  plat::SetPlatformForTesting(&FakePlatform());
  chunk = data[1];
  streamAt = data + fuzz::kInputPrefix;
  streamLeft = size - fuzz::kInputPrefix;
  sent.clear();
  // Never destroyed: the connection loop reports its end to the server.
  static CommandServer* server = new CommandServer;
  static ClientSlot slot;
  slot.socket = 1;
  slot.server = server;
  ServeConnection(slot);

  // Frame the stream independently and match the replies one by one.
  const std::uint8_t* request = data + fuzz::kInputPrefix;
  std::size_t requestLeft = size - fuzz::kInputPrefix;
  std::size_t replyAt = 0;
  while (requestLeft >= kHeaderSize) {
    const std::size_t length = ReadU16(request);
    if (length < kHeaderSize || length > kMessageBufferSize || length > requestLeft) break;
    if (sent.size() - replyAt < kHeaderSize) fuzz::Fail("a complete request got no reply");
    const std::size_t replyLength = ReadU16(sent.data() + replyAt);
    if (replyLength < kHeaderSize || sent.size() - replyAt < replyLength) fuzz::Fail("a reply is cut short");
    // The reply as it sits in the buffer; the request's bytes beyond it are
    // what a code not served must leave alone.
    std::uint8_t after[kMessageBufferSize];
    std::memcpy(after, request, length);
    std::memcpy(after, sent.data() + replyAt, std::min(replyLength, length));
    fuzz::CheckDispatched(request, after, length);
    replyAt += replyLength;
    request += length;
    requestLeft -= length;
  }
  if (replyAt != sent.size()) fuzz::Fail("more replies than complete requests");
  plat::SetPlatformForTesting(nullptr);
  fuzz::CheckConfinement();
  return 0;
}
