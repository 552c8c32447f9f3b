// A shared instrument under careless and hostile clients, over loopback TCP:
// a new connection starts from a clean buffer, turns at the command lock go
// to the least-used connection, slots cannot be held by one address or by
// slow senders, and a client that left before its turn has nothing run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "scope/test_double.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

class FairServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { scope_double::Reset(); }
  CapturedOutput output;
  LoopbackServer server;
};

std::int64_t MagnificationAsked(std::size_t call) {
  const std::vector<scope_double::Call> calls = scope_double::CallsTo(SemOp::SetMagAbs);
  return call < calls.size() && !calls[call].args.empty() ? calls[call].args[0] : -1;
}

// EMGS without its body reads the four body bytes from the buffer: on a new
// connection they must be zeros, whatever the slot's last client sent.
TEST_F(FairServiceTest, NewConnectionOnAReusedSlotReadsZerosNotThePreviousClientsBytes) {
  {
    TestClient earlier(server.port());
    ASSERT_TRUE(earlier.Send(MakeRequest("ZZZZ", Bytes(100, 0x27))));
    ASSERT_EQ(earlier.Receive(116).size(), 116u);
  }
  ASSERT_TRUE(output.WaitForStandardOutput("0  left.\n", 5000));
  TestClient next(server.port());  // slot 0 again
  ASSERT_TRUE(next.Send(MakeRequest("EMGS")));
  ASSERT_EQ(next.Receive(20).size(), 20u);
  TestClient explicitZero(server.port());
  ASSERT_TRUE(explicitZero.Send(MakeRequest("EMGS", Bytes(4, 0))));
  ASSERT_EQ(explicitZero.Receive(20).size(), 20u);
  ASSERT_EQ(scope_double::CallCount(SemOp::SetMagAbs), 2u);
  EXPECT_EQ(MagnificationAsked(0), MagnificationAsked(1));
}

// EMGS made long: each holds the instrument for kLongMs.
constexpr int kLongMs = 150;
void MakeMagnificationSlow() {
  scope_double::SetHook(SemOp::SetMagAbs, [](const scope_double::Call&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kLongMs));
    return 1;
  });
}

// Four clients keep three slow commands queued each; a bystander's quick
// reads wait about the command in progress, and the loopers share the rest
// evenly.
TEST_F(FairServiceTest, QuickReadsWaitOneCommandAndLongCommandsShareTheRestInTurn) {
  MakeMagnificationSlow();
  constexpr int kLoopers = 4;
  std::atomic<bool> stop{false};
  std::atomic<int> served[kLoopers] = {};
  std::vector<std::thread> loopers;
  for (int i = 0; i < kLoopers; ++i) {
    loopers.emplace_back([&, i] {
      TestClient client(server.port());
      const Bytes request = MakeRequest("EMGS", {0, 0, 3, 0xE8});
      for (int queued = 0; queued < 3; ++queued) client.Send(request);
      while (!stop.load()) {
        if (client.Receive(20, 10000).size() != 20u) return;
        ++served[i];
        client.Send(request);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kLongMs));
  TestClient bystander(server.port());
  long worstMs = 0;
  for (int read = 0; read < 6; ++read) {
    const Clock::time_point asked = Clock::now();
    ASSERT_TRUE(bystander.Send(MakeRequest("FXSR")));
    ASSERT_EQ(bystander.Receive(70, 10000).size(), 70u);
    const long waitedMs =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count());
    worstMs = std::max(worstMs, waitedMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(kLongMs / 2));
  }
  stop.store(true);
  for (std::thread& looper : loopers) looper.join();
  // Without fair turns the read queues behind up to twelve commands.
  EXPECT_LT(worstMs, 3 * kLongMs);
  int fewest = served[0].load();
  int most = fewest;
  for (const std::atomic<int>& count : served) {
    fewest = std::min(fewest, count.load());
    most = std::max(most, count.load());
  }
  EXPECT_GE(fewest, 2);
  EXPECT_LE(most, 2 * fewest);
}

// A client that reconnects for every slow command is a newcomer each time;
// it must not be placed ahead of the loopers each time, which would give it
// every other turn. (Its first connection may start ahead by the return
// credit, at least 1 s: that lead is used up before counting.)
TEST_F(FairServiceTest, ReconnectingForEachCommandGainsNoTurns) {
  MakeMagnificationSlow();
  const Bytes request = MakeRequest("EMGS", {0, 0, 3, 0xE8});
  std::atomic<bool> stop{false};
  std::atomic<int> looperServed[2] = {};
  std::vector<std::thread> loopers;
  for (int i = 0; i < 2; ++i) {
    loopers.emplace_back([&, i] {
      TestClient client(server.port());
      for (int queued = 0; queued < 2; ++queued) client.Send(request);
      while (!stop.load()) {
        if (client.Receive(20, 10000).size() != 20u) return;
        ++looperServed[i];
        client.Send(request);
      }
    });
  }
  const auto reconnect = [&] {
    TestClient client(server.port());
    return client.Send(request) && client.Receive(20, 10000).size() == 20u;
  };
  const Clock::time_point counting = Clock::now() + std::chrono::milliseconds(12 * kLongMs);
  while (Clock::now() < counting) ASSERT_TRUE(reconnect());
  const int looperBefore[2] = {looperServed[0].load(), looperServed[1].load()};
  int reconnectorServed = 0;
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(24 * kLongMs);
  while (Clock::now() < until) {
    ASSERT_TRUE(reconnect());
    ++reconnectorServed;
  }
  stop.store(true);
  for (std::thread& looper : loopers) looper.join();
  const int fewest = std::min(looperServed[0].load() - looperBefore[0], looperServed[1].load() - looperBefore[1]);
  // Placed ahead on every connection it would have about 12 of the 24 turns.
  EXPECT_LE(reconnectorServed, fewest + 2);
}

TEST_F(FairServiceTest, ClientThatLeftBeforeItsTurnHasNothingRun) {
  MakeMagnificationSlow();
  TestClient running(server.port());
  ASSERT_TRUE(running.Send(MakeRequest("EMGS", {0, 0, 3, 0xE8})));
  TestClient impatient(server.port());
  std::this_thread::sleep_for(std::chrono::milliseconds(kLongMs / 3));
  ASSERT_TRUE(impatient.Send(MakeRequest("EMGS", {0, 0, 0x4E, 0x20})));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  impatient.Close();
  ASSERT_EQ(running.Receive(20).size(), 20u);
  ASSERT_TRUE(output.WaitForStandardError("1 left before its turn, request not run.\n", 5000));
  EXPECT_EQ(scope_double::CallCount(SemOp::SetMagAbs), 1u);
}

TEST_F(FairServiceTest, OneAddressHoldsNoMoreThanItsShareOfSlots) {
  server.server().SetMaxPerAddress(3);
  std::vector<TestClient> held;
  for (int i = 0; i < 3; ++i) {
    held.emplace_back(server.port());
    ASSERT_TRUE(held.back().Send(MakeRequest("ZZZZ")));
    ASSERT_EQ(held.back().Receive(16).size(), 16u);
  }
  TestClient fourth(server.port());
  const std::string refusal = "SRV ERR\r\n";
  EXPECT_EQ(fourth.Receive(9), Bytes(refusal.begin(), refusal.end()));
  EXPECT_TRUE(output.WaitForStandardError("127.0.0.1 already has 3 connections.\nrefused.\n", 5000));
  held[0].Close();
  ASSERT_TRUE(output.WaitForStandardOutput("0  left.\n", 5000));
  TestClient later(server.port());
  ASSERT_TRUE(later.Send(MakeRequest("ZZZZ")));
  EXPECT_EQ(later.Receive(16).size(), 16u);
}

// Twenty clients that send a byte and stall, and reconnect at once when
// closed, cannot keep a newcomer out.
TEST_F(FairServiceTest, SlowSendersThatReconnectGiveWayToANewcomer) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> stallers;
  for (int i = 0; i < 20; ++i) {
    stallers.emplace_back([&] {
      while (!stop.load()) {
        TestClient client(server.port());
        client.Send({0x00});
        while (!stop.load() && !client.WaitForClose(100)) {
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kIncompleteReclaimMs + 300));
  TestClient newcomer(server.port());
  ASSERT_TRUE(newcomer.Send(MakeRequest("ZZZZ")));
  const Bytes reply = newcomer.Receive(16, 5000);
  stop.store(true);
  for (std::thread& staller : stallers) staller.join();
  EXPECT_EQ(reply.size(), 16u);
  EXPECT_TRUE(output.WaitForStandardError(" request incomplete for ", 5000));
}

}  // namespace
}  // namespace vesk::testing
