// Test helpers: a fixture that resets the control-library double and the
// wait clock, and builders for request messages.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "protocol/message.h"
#include "protocol/wait_clock.h"
#include "scope/test_double.h"

namespace vesk::testing {

// A virtual clock: sleeps advance it instead of taking time. Every reading
// moves it on by 1 ms; with a granularity, readings do not move it and a
// sleep lasts a whole number of granules (a coarse platform timer), so only
// sleeping ends a wait.
class FakeWaitClock {
 public:
  static void Install(std::uint32_t start = 0, std::uint32_t granularity = 0);
  static void Uninstall();
  static std::uint32_t Now();
  static std::uint32_t TotalSleptMs();
  static std::vector<std::uint32_t> Sleeps();
};

// A connection's message buffer holding one request.
struct RequestBuffer {
  std::array<std::uint8_t, kMessageBufferSize> bytes{};

  // Header with the code, a length of 16 + body size and the given status.
  RequestBuffer(const char* code, std::initializer_list<std::uint8_t> body = {}, std::int16_t status = 0);
  RequestBuffer& Body(std::size_t offset, std::initializer_list<std::uint8_t> data);
  RequestBuffer& BodyU16(std::size_t offset, std::uint16_t value);
  RequestBuffer& BodyS16(std::size_t offset, std::int16_t value) {
    return BodyU16(offset, static_cast<std::uint16_t>(value));
  }
  RequestBuffer& BodyU32(std::size_t offset, std::uint32_t value);
  RequestBuffer& BodyFloat(std::size_t offset, float value);
  RequestBuffer& SetLength(std::uint16_t length);

  std::uint8_t* header() { return bytes.data(); }
  std::uint8_t* body() { return bytes.data() + kHeaderSize; }

  // Runs DispatchCommand on the buffer.
  void Dispatch();

  std::uint16_t length() const { return ReadU16(bytes.data()); }
  std::int16_t status() const { return ReadS16(bytes.data() + 10); }
  bool hasReplyMagic() const;
  std::uint16_t U16(std::size_t bodyOffset) const { return ReadU16(bytes.data() + 16 + bodyOffset); }
  std::int16_t S16(std::size_t bodyOffset) const { return ReadS16(bytes.data() + 16 + bodyOffset); }
  std::uint32_t U32(std::size_t bodyOffset) const { return ReadU32(bytes.data() + 16 + bodyOffset); }
  std::int32_t S32(std::size_t bodyOffset) const { return ReadS32(bytes.data() + 16 + bodyOffset); }
  float Float(std::size_t bodyOffset) const { return FloatFromWire(bytes.data() + 16 + bodyOffset); }
  // Body bytes [offset, offset + count).
  std::vector<std::uint8_t> BodyBytes(std::size_t offset, std::size_t count) const;
};

// Resets the double, the EnableFenk flag (to 1) and installs a fake clock.
class DoubleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// The integer arguments of the only (or the n-th) call to op.
std::vector<std::int64_t> ArgsOf(SemOp op, std::size_t nth = 0);

// The words the handler tests use for the double's journal and results.
using scope_double::CallNames;
using scope_double::ScriptResults;
using scope_double::SetHook;
using scope_double::SetResult;
using Names = std::vector<std::string>;
using Args = std::vector<std::int64_t>;

}  // namespace vesk::testing
