// DispatchCommand on the simulated instrument: one request buffer per input,
// its length field whatever the input says (the handlers must stay inside
// the 1024-byte buffer all the same).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "protocol/command_table.h"
#include "protocol/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vesk;
  if (size < fuzz::kInputPrefix + kHeaderSize) return -1;
  fuzz::ResetForInput(data[0]);
  std::size_t count = size - fuzz::kInputPrefix;
  if (count > kMessageBufferSize) count = kMessageBufferSize;
  // Bytes past the input keep a pattern, so stray reads and writes show.
  std::uint8_t request[kMessageBufferSize];
  std::memset(request, 0xA5, sizeof request);
  std::memcpy(request, data + fuzz::kInputPrefix, count);
  std::uint8_t buffer[kMessageBufferSize];
  std::memcpy(buffer, request, sizeof buffer);
  DispatchCommand(buffer, buffer + kHeaderSize);
  fuzz::CheckDispatched(request, buffer, sizeof buffer);
  fuzz::CheckConfinement();
  return 0;
}
