// Client slots over loopback TCP: the 21st client, reuse lowest-first, a
// thread that cannot start, port in use, and stopping with clients on.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "scope/test_double.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A served round trip proves that the connection owns a slot.
void ExpectServed(TestClient& client) {
  ASSERT_TRUE(client.Send(MakeRequest("ZZZZ")));
  EXPECT_EQ(client.Receive(16).size(), 16u);
}

std::vector<TestClient> ConnectServed(int port, int count) {
  std::vector<TestClient> clients;
  for (int i = 0; i < count; ++i) {
    clients.emplace_back(port);
    ExpectServed(clients.back());
  }
  return clients;
}

class SlotsTest : public ::testing::Test {
 protected:
  void SetUp() override { scope_double::Reset(); }
  CapturedOutput output;
  LoopbackServer server;
};

TEST_F(SlotsTest, TwentyFirstClientIsRefusedAndTheOthersStayServed) {
  std::vector<TestClient> clients = ConnectServed(server.port(), 20);
  TestClient extra(server.port());
  const std::string refusal = "SRV ERR\r\n";
  EXPECT_EQ(extra.Receive(9), Bytes(refusal.begin(), refusal.end()));
  EXPECT_TRUE(extra.WaitForClose());
  EXPECT_TRUE(output.WaitForStandardError("refused.\n", 5000));
  EXPECT_TRUE(output.WaitForDebugger("refused.\n", 5000));
  for (TestClient& client : clients) ExpectServed(client);
  EXPECT_EQ(server.server().BusySlotCount(), 20);
}

TEST_F(SlotsTest, FreedSlotIsReusedLowestFirst) {
  std::vector<TestClient> clients = ConnectServed(server.port(), 20);
  clients[4].Close();
  ASSERT_TRUE(output.WaitForStandardOutput("4  left.\n", 5000));
  TestClient replacement(server.port());
  ExpectServed(replacement);
  EXPECT_EQ(server.server().BusySlotCount(), 20);
  replacement.Close();
  EXPECT_TRUE(output.WaitForStandardOutput("4  left.\n", 5000, 2));  // it had slot 4
}

TEST_F(SlotsTest, GapBetweenBusySlotsIsFilledFirst) {
  std::vector<TestClient> clients = ConnectServed(server.port(), 3);
  clients[1].Close();
  ASSERT_TRUE(output.WaitForStandardOutput("1  left.\n", 5000));
  TestClient next(server.port());
  ExpectServed(next);
  next.Close();
  EXPECT_TRUE(output.WaitForStandardOutput("1  left.\n", 5000, 2));
}

std::atomic<bool> failThreadStarts{false};
plat::ThreadHandle MaybeStartThread(plat::ThreadMain main, void* argument) {
  if (failThreadStarts.load()) return nullptr;
  return plat::NativePlatform().startThread(main, argument);
}

TEST_F(SlotsTest, ConnectionWhoseThreadCannotStartIsClosedAndItsSlotFreed) {
  static plat::PlatformApi api;  // outlives the server: the capture, with thread starts that can fail
  api = plat::Platform();
  api.startThread = MaybeStartThread;
  plat::SetPlatformForTesting(&api);
  failThreadStarts.store(true);
  TestClient unlucky(server.port());
  EXPECT_TRUE(unlucky.WaitForClose());
  EXPECT_TRUE(output.WaitForStandardError("error at _beginthread()", 5000));
  failThreadStarts.store(false);
  EXPECT_EQ(server.server().BusySlotCount(), 0);
  TestClient lucky(server.port());
  ExpectServed(lucky);
  lucky.Close();
  EXPECT_TRUE(output.WaitForStandardOutput("0  left.\n", 5000));  // the freed slot 0 again
  server.server().Stop();
}

TEST_F(SlotsTest, PortInUseReportsTheBindErrorOnceAndServesWhenFreed) {
  const int port = server.port();
  CommandServer second;
  ASSERT_TRUE(second.StartListener(static_cast<std::uint16_t>(port)));
  const std::string inUse = "error at bind():\x83\x41\x83h\x83\x8c\x83X\x82\xcd\x8eg\x97p\x92\x86\n";
  EXPECT_TRUE(output.WaitForStandardError(inUse, 5000));
  EXPECT_TRUE(output.WaitForDebugger(inUse, 5000));
  {
    TestClient client(port);  // the first server keeps serving
    ExpectServed(client);
  }
  EXPECT_EQ(second.WaitUntilListening(kBindRetryPauseMs + 500), 0);  // still trying
  server.server().Stop();
  EXPECT_EQ(second.WaitUntilListening(2 * kBindRetryPauseMs + 1000), port);
  TestClient client(port);
  ExpectServed(client);
  EXPECT_EQ(CountOf(output.StandardError(), "error at bind()"), 1);
  second.Stop();
}

TEST_F(SlotsTest, StoppingWithTwentyClientsConnectedClosesThemAll) {
  std::vector<TestClient> clients = ConnectServed(server.port(), 20);
  server.server().Stop();
  for (TestClient& client : clients) EXPECT_TRUE(client.WaitForClose());
  EXPECT_EQ(server.server().BusySlotCount(), 0);
  EXPECT_TRUE(output.WaitForStandardOutput(" left.\n", 5000, 20));
  TestClient late;
  EXPECT_FALSE(late.Connect(server.port()));
}

}  // namespace
}  // namespace vesk::testing
