#include "tests/support/double_fixture.h"

#include <cstring>
#include <mutex>

#include "protocol/command_table.h"

namespace vesk::testing {
namespace {

std::mutex clockMutex;
std::uint32_t now = 0;
std::uint32_t granule = 0;
std::vector<std::uint32_t> sleeps;

std::uint32_t FakeTick() {
  std::lock_guard<std::mutex> guard(clockMutex);
  return granule != 0 ? now : now++;
}
void FakeSleep(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> guard(clockMutex);
  now += granule != 0 ? (milliseconds + granule - 1) / granule * granule : milliseconds;
  sleeps.push_back(milliseconds);
}
const WaitClock kFakeClock = {FakeTick, FakeSleep};

}  // namespace

void FakeWaitClock::Install(std::uint32_t start, std::uint32_t granularity) {
  {
    std::lock_guard<std::mutex> guard(clockMutex);
    now = start;
    granule = granularity;
    sleeps.clear();
  }
  SetWaitClockForTesting(&kFakeClock);
}
void FakeWaitClock::Uninstall() { SetWaitClockForTesting(nullptr); }
std::uint32_t FakeWaitClock::Now() {
  std::lock_guard<std::mutex> guard(clockMutex);
  return now;
}
std::uint32_t FakeWaitClock::TotalSleptMs() {
  std::lock_guard<std::mutex> guard(clockMutex);
  std::uint32_t total = 0;
  for (std::uint32_t s : sleeps) total += s;
  return total;
}
std::vector<std::uint32_t> FakeWaitClock::Sleeps() {
  std::lock_guard<std::mutex> guard(clockMutex);
  return sleeps;
}

RequestBuffer::RequestBuffer(const char* code, std::initializer_list<std::uint8_t> body, std::int16_t status) {
  std::memcpy(bytes.data() + 6, code, 4);
  WriteS16(bytes.data() + 10, status);
  std::size_t i = 16;
  for (std::uint8_t b : body) bytes[i++] = b;
  WriteU16(bytes.data(), static_cast<std::uint16_t>(16 + body.size()));
}

RequestBuffer& RequestBuffer::Body(std::size_t offset, std::initializer_list<std::uint8_t> data) {
  std::size_t i = 16 + offset;
  for (std::uint8_t b : data) bytes[i++] = b;
  if (i > length()) WriteU16(bytes.data(), static_cast<std::uint16_t>(i));
  return *this;
}
RequestBuffer& RequestBuffer::BodyU16(std::size_t offset, std::uint16_t value) {
  return Body(offset, {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
RequestBuffer& RequestBuffer::BodyU32(std::size_t offset, std::uint32_t value) {
  return Body(offset, {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                       static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
RequestBuffer& RequestBuffer::BodyFloat(std::size_t offset, float value) {
  WireFloat wire = FloatToWire(value);
  return Body(offset, {wire[0], wire[1], wire[2], wire[3]});
}
RequestBuffer& RequestBuffer::SetLength(std::uint16_t value) {
  WriteU16(bytes.data(), value);
  return *this;
}

void RequestBuffer::Dispatch() { DispatchCommand(header(), body()); }

bool RequestBuffer::hasReplyMagic() const { return std::memcmp(bytes.data() + 2, "BS!a", 4) == 0; }

std::vector<std::uint8_t> RequestBuffer::BodyBytes(std::size_t offset, std::size_t count) const {
  return {bytes.begin() + 16 + static_cast<std::ptrdiff_t>(offset),
          bytes.begin() + 16 + static_cast<std::ptrdiff_t>(offset + count)};
}

void DoubleTest::SetUp() {
  scope_double::Reset();
  SetEnableFenkFlag(1);
  FakeWaitClock::Install();
}

void DoubleTest::TearDown() {
  FakeWaitClock::Uninstall();
  SetEnableFenkFlag(0);
}

std::vector<std::int64_t> ArgsOf(SemOp op, std::size_t nth) {
  std::vector<scope_double::Call> calls = scope_double::CallsTo(op);
  if (nth >= calls.size()) {
    ADD_FAILURE() << "no call " << nth << " to sem_" << SemOpName(op);
    return {};
  }
  return calls[nth].args;
}

}  // namespace vesk::testing
