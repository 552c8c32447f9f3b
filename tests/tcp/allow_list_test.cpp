// The allow-list: which entries it takes, which addresses they match, and a
// server that turns strangers away before they take a slot.
#include <gtest/gtest.h>

#include "scope/test_double.h"
#include "server/allow_list.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

TEST(AllowList, EntriesMatchTheirAddressesAndNetworks) {
  const struct {
    const char* entry;
    std::uint32_t inside;
    std::uint32_t outside;
  } cases[] = {
      {"192.168.3.7", 0xC0A80307, 0xC0A80308},
      {"192.168.3.7/32", 0xC0A80307, 0xC0A80306},
      {"10.1.0.0/16", 0x0A01FFFF, 0x0A020000},
      {"10.1.2.3/16", 0x0A010000, 0x0A000001},  // bits below the prefix do not count
      {"0.0.0.0/0", 0xFFFFFFFF, 0xFFFFFFFF},
      {"255.255.255.255", 0xFFFFFFFF, 0},
  };
  for (const auto& c : cases) {
    AllowList list;
    ASSERT_TRUE(list.Add(c.entry)) << c.entry;
    EXPECT_TRUE(list.Allows(c.inside)) << c.entry;
    EXPECT_EQ(list.Allows(c.outside), c.inside == c.outside) << c.entry;
  }
  EXPECT_TRUE(AllowList().Allows(0x7F000001));  // no list: everyone
}

TEST(AllowList, MalformedEntriesAreRefused) {
  for (const char* entry : {"", "10.1.2", "10.1.2.3.4", "256.0.0.1", "10.1.2.3/33", "10.1.2.3/", "10..2.3",
                            "1000.1.1.1", "a.b.c.d", "10.1.2.3/-1", " 10.1.2.3", "+1.2.3.4", "10.1.2.3/1/2",
                            "localhost", "::1"}) {
    AllowList list;
    EXPECT_FALSE(list.Add(entry)) << entry;
    EXPECT_TRUE(list.Empty()) << entry;
  }
}

TEST(AllowList, ListsSplitOnSpacesCommasAndSemicolons) {
  AllowList list;
  std::string bad;
  ASSERT_TRUE(list.AddAll(" 10.1.0.0/16,192.168.3.7 ;; 172.16.0.1\t", &bad));
  EXPECT_TRUE(list.Allows(0x0A017F01));
  EXPECT_TRUE(list.Allows(0xC0A80307));
  EXPECT_TRUE(list.Allows(0xAC100001));
  EXPECT_FALSE(list.Allows(0x7F000001));
  EXPECT_FALSE(list.AddAll("10.0.0.1, 10.0.0.300; 10.0.0.2", &bad));
  EXPECT_EQ(bad, "10.0.0.300");
}

TEST(AllowListServer, StrangersAreClosedBeforeTakingASlot) {
  scope_double::Reset();
  CapturedOutput output;
  CommandServer server;
  ASSERT_TRUE(server.AllowedClients().Add("10.0.0.0/8"));  // loopback is not in it
  ASSERT_TRUE(server.StartListener(0));
  const int port = server.WaitUntilListening(5000);
  ASSERT_GT(port, 0);
  // More strangers than slots: none is answered, not even with a refusal.
  for (int i = 0; i < kClientSlotCount + 1; ++i) {
    TestClient stranger(port);
    ASSERT_TRUE(stranger.connected());
    EXPECT_TRUE(stranger.Receive(1, 2000).empty()) << i;
    EXPECT_TRUE(stranger.WaitForClose()) << i;
  }
  EXPECT_TRUE(output.WaitForStandardError("not allowed: 127.0.0.1 is not on the allow-list, closed.\n", 5000,
                                          kClientSlotCount + 1));
  EXPECT_EQ(output.StandardError().find("refused.\n"), std::string::npos);
  EXPECT_EQ(server.BusySlotCount(), 0);
}

}  // namespace
}  // namespace vesk::testing
