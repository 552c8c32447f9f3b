// Every command with random request bodies and random library results:
// no handler reads or writes outside the message buffer (the sanitizer
// builds check that), every reply fits and keeps the request's code and
// reserved bytes, and repeated runs give the same replies.
#include <cstring>
#include <random>

#include "platform/profile.h"
#include "protocol/command_table.h"
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class RobustnessTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    settings_ = ::testing::TempDir() + "vesk_robustness.ini";
    plat::SetImageSaveSettingsPath(settings_.c_str());
  }
  void TearDown() override {
    std::remove(settings_.c_str());
    DoubleTest::TearDown();
  }
  std::string settings_;
};

// Random library results, biased towards the values handlers test for.
void RandomiseLibrary(std::mt19937& random) {
  for (int op = 0; op < kSemOperationCount; ++op) {
    scope_double::SetHook(static_cast<SemOp>(op), [&random](const scope_double::Call&) {
      static constexpr std::int32_t kInteresting[] = {0, 1, 2, -1, 4, 12, 0x7FFF, -32768, 0x10001, 4095};
      const std::uint32_t pick = random() % 16;
      if (pick < std::size(kInteresting)) return kInteresting[pick];
      return static_cast<std::int32_t>(random());
    });
  }
  // Waits end sooner or later: the flags they poll read 0 half the time.
  for (SemOp poll : {SemOp::GetAFD, SemOp::GetASD, SemOp::GetACB, SemOp::GetImageDataFlag}) {
    scope_double::SetHook(poll, [&random](const scope_double::Call&) { return static_cast<std::int32_t>(random() % 2); });
  }
}

std::vector<std::array<std::uint8_t, kMessageBufferSize>> RunAll(std::uint32_t seed) {
  std::mt19937 random(seed);
  RandomiseLibrary(random);
  std::vector<std::array<std::uint8_t, kMessageBufferSize>> replies;
  for (CommandTable table : {BaseCommandTable(), ExtendedCommandTable()}) {
    for (const CommandTableEntry& entry : table) {
      for (int round = 0; round < 25; ++round) {
        RequestBuffer request(entry.code);
        const std::size_t bodySize = random() % (kMaxBodySize + 1);
        for (std::size_t i = 0; i < kMaxBodySize; ++i) request.body()[i] = static_cast<std::uint8_t>(random());
        if (round % 3 == 0) std::memset(request.body() + bodySize / 2, 0, 1);  // a terminated text now and then
        request.SetLength(static_cast<std::uint16_t>(kHeaderSize + bodySize));
        std::memcpy(request.bytes.data() + 12, "\x5A\xA5\x0F\xF0", 4);
        request.Dispatch();
        EXPECT_GE(request.length(), kHeaderSize) << entry.code;
        EXPECT_LE(request.length(), kMessageBufferSize) << entry.code;
        EXPECT_EQ(std::memcmp(request.bytes.data() + 6, entry.code, 4), 0) << entry.code;
        EXPECT_EQ(std::memcmp(request.bytes.data() + 12, "\x5A\xA5\x0F\xF0", 4), 0) << entry.code;
        EXPECT_TRUE(request.hasReplyMagic()) << entry.code;
        replies.push_back(request.bytes);
      }
    }
  }
  scope_double::Reset();  // the hooks refer to this call's generator
  return replies;
}

TEST_F(RobustnessTest, RandomRequestsAndResultsStayWithinTheBuffer) {
  const auto first = RunAll(20261209);
  const auto second = RunAll(20261209);
  EXPECT_EQ(first, second);  // handlers keep no state between requests
}

}  // namespace
}  // namespace vesk::testing
