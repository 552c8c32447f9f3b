// Wire encodings, the command tables, dispatch and SleepFor.
#include <bit>
#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "protocol/command_table.h"
#include "protocol/wait_clock.h"
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

TEST(WireFloat, KnownValuesTravelMostSignificantByteFirst) {
  EXPECT_EQ(FloatToWire(1.0f), (WireFloat{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(FloatToWire(10.0f), (WireFloat{0x41, 0x20, 0x00, 0x00}));
  EXPECT_EQ(FloatFromWire(WireFloat{0x41, 0x20, 0x00, 0x00}), 10.0f);
  EXPECT_EQ(FloatToWire(-0.0f), (WireFloat{0x80, 0x00, 0x00, 0x00}));
}

TEST(WireFloat, EveryBitPatternSurvivesTheRoundTrip) {
  // Quiet and signalling NaNs with payloads, denormals, infinities, extremes.
  for (std::uint32_t bits : {0x7FC00000u, 0x7FA00001u, 0xFFFFFFFFu, 0x7F800001u, 0x00000001u, 0x807FFFFFu,
                             0x7F800000u, 0xFF800000u, 0x7F7FFFFFu, 0x00800000u, 0x12345678u}) {
    const float value = std::bit_cast<float>(bits);
    const WireFloat wire = FloatToWire(value);
    EXPECT_EQ(ReadU32(wire.data()), bits);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(FloatFromWire(wire)), bits);
  }
}

TEST(WireIntegers, BigEndianSignedAndUnsigned) {
  std::uint8_t bytes[4];
  WriteS16(bytes, -2);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  EXPECT_EQ(ReadU16(bytes), 0xFFFE);
  WriteU32(bytes, 300000);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x04);
  EXPECT_EQ(bytes[2], 0x93);
  EXPECT_EQ(bytes[3], 0xE0);
  WriteS32(bytes, -1);
  EXPECT_EQ(ReadS32(bytes), -1);
}

// The codes, their order and their number are pinned by docs/commands.md
// (command_catalogue_test).
TEST(CommandTables, HoldEveryCodeOnceWithItsHandler) {
  std::set<std::string> seen;
  std::size_t entries = 0;
  for (CommandTable table : {BaseCommandTable(), ExtendedCommandTable()}) {
    for (const CommandTableEntry& entry : table) {
      EXPECT_EQ(std::strlen(entry.code), 4u) << entry.code;
      EXPECT_NE(entry.handler, nullptr) << entry.code;
      seen.insert(entry.code);
      ++entries;
    }
  }
  EXPECT_EQ(seen.size(), entries);
}

class DispatchTest : public DoubleTest {};

// The request comes back byte for byte and no library call is made.
void ExpectUntouched(RequestBuffer& request) {
  const auto before = request.bytes;
  request.Dispatch();
  EXPECT_EQ(request.bytes, before);
  EXPECT_TRUE(scope_double::Journal().empty());
}

TEST_F(DispatchTest, CodesWithoutHandlerLeaveTheBufferUntouched) {
  RequestBuffer lower("fvas", {0x3F, 0x80, 0, 0});
  ExpectUntouched(lower);

  RequestBuffer unknown("ZZZZ");
  for (std::size_t i = 0; i < 100; ++i) unknown.body()[i] = static_cast<std::uint8_t>(i * 7);
  unknown.SetLength(116);
  ExpectUntouched(unknown);

  RequestBuffer notTerminated("FXSR", {}, 0x0100);  // byte 10 is 1
  ExpectUntouched(notTerminated);
}

TEST_F(DispatchTest, ExtendedCodesNeedTheEnableFenkFlag) {
  for (std::int16_t flag : {std::int16_t{0}, std::int16_t{2}, std::int16_t{-1}}) {
    SetEnableFenkFlag(flag);
    RequestBuffer request("EMGD", {0x00, 0x01});
    ExpectUntouched(request);
  }
}

TEST_F(DispatchTest, BaseCodesAreServedWhateverTheFlag) {
  SetEnableFenkFlag(0);
  RequestBuffer request("FXSR");
  request.Dispatch();
  EXPECT_EQ(request.length(), 70);
  EXPECT_TRUE(request.hasReplyMagic());
  EXPECT_EQ(std::memcmp(request.bytes.data() + 6, "FXSR", 4), 0);
}

TEST_F(DispatchTest, ReplyKeepsTheRequestCodeAndReservedBytes) {
  RequestBuffer request("FEBS", {0x00, 0x01});
  request.Body(0, {0x00, 0x01});
  std::memcpy(request.bytes.data() + 12, "\x01\x02\x03\x04", 4);
  request.Dispatch();
  EXPECT_EQ(std::memcmp(request.bytes.data() + 2, "BS!aFEBS", 8), 0);
  EXPECT_EQ(std::memcmp(request.bytes.data() + 12, "\x01\x02\x03\x04", 4), 0);
}

class SleepForTest : public ::testing::Test {
 protected:
  static inline std::uint32_t tick = 0;
  static inline int reads = 0;
  static std::uint32_t Tick() {
    ++reads;
    return tick++;
  }
  static void NoSleep(std::uint32_t) {}
  void SetUp() override {
    static const WaitClock clock = {Tick, NoSleep};
    SetWaitClockForTesting(&clock);
  }
  void TearDown() override { SetWaitClockForTesting(nullptr); }
};

TEST_F(SleepForTest, WaitsTheFullTimeAcrossTheTickWrap) {
  tick = 0xFFFFFFFFu - 15;  // 16 ms before the wrap to 0
  reads = 0;
  SleepFor(100);
  EXPECT_EQ(static_cast<std::uint32_t>(tick - (0xFFFFFFFFu - 15)), 101u);  // start + 100 more readings
  EXPECT_EQ(tick, 85u);
}

TEST_F(SleepForTest, ZeroReturnsAfterOneReading) {
  tick = 5;
  reads = 0;
  SleepFor(0);
  EXPECT_EQ(reads, 2);
}

}  // namespace
}  // namespace vesk::testing
