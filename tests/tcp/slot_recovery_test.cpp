// Slots come back: requests that stop half-way, idle connections when a
// newcomer finds every slot busy, and clients that never read their replies.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "scope/test_double.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

bool Served(TestClient& client, std::uint32_t timeoutMs = 5000) {
  return client.Send(MakeRequest("ZZZZ")) && client.Receive(16, timeoutMs).size() == 16u;
}

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class SlotRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { scope_double::Reset(); }
  CapturedOutput output;
  LoopbackServer server;
};

TEST_F(SlotRecoveryTest, StalledRequestsAreClosedAtTheRequestTimeoutAndIdleOnesAreNot) {
  server.server().SetRequestTimeout(300);
  TestClient idle(server.port());
  TestClient partialHeader(server.port());
  TestClient trickledBody(server.port());
  const Clock::time_point start = Clock::now();
  const Bytes request = MakeRequest("ZZZZ", Bytes(8, 0x55));
  ASSERT_TRUE(partialHeader.Send(Bytes(request.begin(), request.begin() + 5)));
  ASSERT_TRUE(trickledBody.Send(Bytes(request.begin(), request.begin() + 17)));
  // Progress does not extend the time: one byte every 100 ms still fails.
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    trickledBody.Send({0x55});
  }
  EXPECT_TRUE(partialHeader.WaitForClose(2000));
  EXPECT_TRUE(trickledBody.WaitForClose(2000));
  EXPECT_GE(MsSince(start), 290);
  EXPECT_TRUE(output.WaitForStandardError("request not complete within 300 ms, closed.\n", 2000, 2));
  EXPECT_TRUE(Served(idle));  // silence between requests is not a stalled request
}

TEST_F(SlotRecoveryTest, NewcomerTakesTheIdlestSlotOnlyOnceItHasBeenIdleLongEnough) {
  server.server().SetIdleReclaim(600);
  std::vector<TestClient> clients;
  for (int i = 0; i < 20; ++i) {
    clients.emplace_back(server.port());
    ASSERT_TRUE(Served(clients.back()));
  }
  const std::string refusal = "SRV ERR\r\n";
  TestClient early(server.port());
  EXPECT_EQ(early.Receive(9), Bytes(refusal.begin(), refusal.end()));

  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_TRUE(Served(clients[0]));  // busy clients keep their slots
  TestClient newcomer(server.port());
  EXPECT_TRUE(Served(newcomer));
  EXPECT_TRUE(output.WaitForStandardError("1 idle for ", 2000));
  EXPECT_TRUE(clients[1].WaitForClose(2000));
  EXPECT_TRUE(Served(clients[0]));
  EXPECT_EQ(server.server().BusySlotCount(), 20);
}

TEST_F(SlotRecoveryTest, ClientThatDoesNotReadIsClosedBeforeItCanHoldTheLock) {
  TestClient reader(server.port());
  TestClient nonReader(server.port());
  // Echoed 1024-byte requests, never read, until the server gives up on it.
  const Bytes request = MakeRequest("ZZZZ", Bytes(1008, 0xAA));
  for (int i = 0; i < 20000 && nonReader.Send(request); ++i) {
  }
  EXPECT_TRUE(output.WaitForStandardError("1 replies not read, closed.\n", 5000));
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(Served(reader, 1000));
  EXPECT_LT(MsSince(start), 1000);
}

}  // namespace
}  // namespace vesk::testing
