// The connection loop over real loopback TCP: framing, echo of unknown
// codes, malformed lengths, and the high-voltage commands end to end.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "protocol/command_table.h"
#include "scope/test_double.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FramingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_double::Reset();
    SetEnableFenkFlag(1);
  }
  void TearDown() override { SetEnableFenkFlag(0); }

  CapturedOutput output;  // before the server, so its threads see it
  LoopbackServer server;
};

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

TEST_F(FramingTest, HighVoltageReadingAnswersByteForByte) {
  scope_double::SetResult(SemOp::GetHT, 1);
  scope_double::SetResult(SemOp::GetAccv, 15000);
  scope_double::SetResult(SemOp::GetWD, 103);
  scope_double::SetResult(SemOp::GetLoadCurrent, 42);
  TestClient client(server.port());
  Bytes request = MakeRequest("FXSR", {}, 0x0007);
  std::memcpy(request.data() + 12, "RSVD", 4);
  ASSERT_TRUE(client.Send(request));
  Bytes reply = client.Receive(70);
  ASSERT_EQ(reply.size(), 70u);
  Bytes expected(70, 0);
  const std::uint8_t head[] = {0x00, 0x46, 'B', 'S', '!', 'a', 'F', 'X', 'S', 'R', 0x00, 0x07, 'R', 'S', 'V', 'D'};
  std::memcpy(expected.data(), head, sizeof head);
  expected[16 + 3] = 2;                                            // htState
  const std::uint8_t kv[] = {0x41, 0x70, 0x00, 0x00};              // 15.0 kV
  std::memcpy(expected.data() + 16 + 4, kv, 4);
  const std::uint8_t current[] = {0x42, 0x28, 0x00, 0x00};         // 42.0
  std::memcpy(expected.data() + 16 + 14, current, 4);
  const WireFloat wd = FloatToWire(10.3f);
  std::memcpy(expected.data() + 16 + 34, wd.data(), 4);
  EXPECT_EQ(reply, expected);
}

TEST_F(FramingTest, SetVoltageAndSwitchHighVoltageOverTcp) {
  TestClient client(server.port());
  ASSERT_TRUE(client.Send(MakeRequest("FVAS", {0x3F, 0x80, 0x00, 0x00})));
  Bytes reply = client.Receive(70);
  ASSERT_EQ(reply.size(), 70u);
  EXPECT_EQ(ReadS16(reply.data() + 10), 54);
  ASSERT_TRUE(client.Send(MakeRequest("FEBS", {0x00, 0x01})));
  reply = client.Receive(70);
  ASSERT_EQ(reply.size(), 70u);
  EXPECT_EQ(ReadS16(reply.data() + 10), 54);
  auto calls = scope_double::CallsTo(SemOp::SetAccvAbs);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args[0], 1000);
  EXPECT_EQ(scope_double::CallsTo(SemOp::SetHT).at(0).args[0], 1);
}

TEST_F(FramingTest, HeaderAndBodyInSeparateSegments) {
  TestClient client(server.port());
  Bytes request = MakeRequest("FEBS", {0x00, 0x01});
  ASSERT_TRUE(client.Send(Slice(request, 0, 16)));
  EXPECT_TRUE(client.Receive(1, 100).empty());  // not served without its body
  EXPECT_EQ(scope_double::CallCount(SemOp::SetHT), 0u);
  ASSERT_TRUE(client.Send(Slice(request, 16, 2)));
  EXPECT_EQ(client.Receive(70).size(), 70u);
  EXPECT_EQ(scope_double::CallCount(SemOp::SetHT), 1u);
}

TEST_F(FramingTest, HeaderTricklingInByteByByte) {
  TestClient client(server.port());
  Bytes request = MakeRequest("FXSR");
  for (std::size_t i = 0; i < 15; ++i) ASSERT_TRUE(client.Send(Slice(request, i, 1)));
  EXPECT_TRUE(client.Receive(1, 50).empty());
  ASSERT_TRUE(client.Send(Slice(request, 15, 1)));
  EXPECT_EQ(client.Receive(70).size(), 70u);
}

TEST_F(FramingTest, TwoRequestsInOneSegmentGetTwoRepliesInOrder) {
  TestClient client(server.port());
  Bytes both = MakeRequest("FXSR", {}, 1);
  Bytes unknown = MakeRequest("QQQQ", {9, 8, 7});
  both.insert(both.end(), unknown.begin(), unknown.end());
  ASSERT_TRUE(client.Send(both));
  Bytes first = client.Receive(70);
  ASSERT_EQ(first.size(), 70u);
  EXPECT_EQ(std::memcmp(first.data() + 6, "FXSR", 4), 0);
  EXPECT_EQ(client.Receive(unknown.size()), unknown);
}

TEST_F(FramingTest, UnknownCodesComeBackByteForByte) {
  TestClient client(server.port());
  Bytes big(100);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(255 - i);
  for (Bytes request : {MakeRequest("fvas", {0x3F, 0x80, 0, 0}), MakeRequest("ABCD", big),
                        MakeRequest("FXSR", {}, 0x0100), MakeRequest("ABCD")}) {
    std::memcpy(request.data() + 2, "xyzw", 4);
    ASSERT_TRUE(client.Send(request));
    EXPECT_EQ(client.Receive(request.size()), request);
  }
  EXPECT_TRUE(scope_double::Journal().empty());
}

TEST_F(FramingTest, ExtendedCodeEchoedWhileTheFlagIsOff) {
  SetEnableFenkFlag(0);
  TestClient client(server.port());
  Bytes request = MakeRequest("EMGD", {0x00, 0x05});
  ASSERT_TRUE(client.Send(request));
  EXPECT_EQ(client.Receive(request.size()), request);
}

TEST_F(FramingTest, ClientLeavingHalfWayThroughABodyDispatchesNothing) {
  {
    TestClient client(server.port());
    Bytes request = MakeRequest("FEBS", Bytes(20, 0));
    ASSERT_TRUE(client.Send(Slice(request, 0, 25)));
  }
  EXPECT_TRUE(output.WaitForStandardOutput("0  left.\n", 5000));
  EXPECT_TRUE(scope_double::Journal().empty());
  EXPECT_EQ(server.server().BusySlotCount(), 0);
}

TEST_F(FramingTest, LengthOutOfRangeClosesOnlyThatConnection) {
  TestClient bystander(server.port());
  ASSERT_TRUE(bystander.Send(MakeRequest("FXSR")));
  ASSERT_EQ(bystander.Receive(70).size(), 70u);
  const std::size_t callsBefore = scope_double::Journal().size();
  for (int length : {0, 1, 15, 1025, 0xFFFF}) {
    TestClient client(server.port());
    Bytes request = MakeRequest("FXSR", Bytes(32, 0));
    WriteU16(request.data(), static_cast<std::uint16_t>(length));
    ASSERT_TRUE(client.Send(request));
    EXPECT_TRUE(client.WaitForClose()) << length;
  }
  EXPECT_EQ(scope_double::Journal().size(), callsBefore);  // nothing dispatched
  ASSERT_TRUE(bystander.Send(MakeRequest("FXSR")));
  EXPECT_EQ(bystander.Receive(70).size(), 70u);
}

TEST_F(FramingTest, LargestMessageIsServed) {
  TestClient client(server.port());
  Bytes request = MakeRequest("ABCD", Bytes(1008, 0x5A));
  ASSERT_EQ(request.size(), 1024u);
  ASSERT_TRUE(client.Send(request));
  EXPECT_EQ(client.Receive(1024), request);
}

TEST_F(FramingTest, ListenerWritesItsProgressLines) {
  EXPECT_TRUE(output.WaitForStandardError("listen...\n", 5000));
  const std::string err = output.StandardError();
  EXPECT_EQ(err.rfind("Tessik's Draw Server\nPress Ctrl+C to shutdown.\n", 0), 0u) << err;
  EXPECT_NE(err.find("open...bind...listen...\n"), std::string::npos) << err;
  EXPECT_TRUE(output.WaitForDebugger("bind...listen...\n", 5000));
}

TEST_F(FramingTest, GarbageStreamsNeverStopTheService) {
  std::mt19937 random(22300);
  for (int connection = 0; connection < 30; ++connection) {
    TestClient client(server.port());
    Bytes garbage(1 + random() % 4000);
    for (std::uint8_t& byte : garbage) byte = static_cast<std::uint8_t>(random());
    if (connection % 2 == 0) WriteU16(garbage.data(), static_cast<std::uint16_t>(16 + random() % 1009));
    client.Send(garbage);  // the service may close the connection half-way
  }
  TestClient clean(server.port());
  ASSERT_TRUE(clean.Send(MakeRequest("FXSR")));
  EXPECT_EQ(clean.Receive(70).size(), 70u);
}

// A client that sends but never reads must not hold the service: its reply
// send times out and its connection is closed, and others are served.
TEST(SlowReader, IsDisconnectedAndOthersAreServed) {
  scope_double::Reset();
  CapturedOutput output;
  LoopbackServer server;
  server.server().SetReplySendTimeout(200);
  TestClient reader(server.port());
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    TestClient silent(server.port());
    Bytes request = MakeRequest("ABCD", Bytes(1000, 1));
    while (!stop.load() && silent.Send(request)) {
    }
  });
  // The flooding client fills every buffer; then its reply send times out.
  EXPECT_TRUE(output.WaitForStandardOutput(" left.\n", 20000));
  ASSERT_TRUE(reader.Send(MakeRequest("FXSR")));
  EXPECT_EQ(reader.Receive(70, 5000).size(), 70u);
  stop.store(true);
  flood.join();
}

}  // namespace
}  // namespace vesk::testing
