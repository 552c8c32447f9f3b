// The client library against a real server on loopback.
#include <gtest/gtest.h>

#include "client/vesk_client.h"
#include "scope/test_double.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

TEST(ClientFields, EncodeEachTypeBigEndian) {
  std::vector<std::uint8_t> body;
  std::string error;
  for (const char* field : {"s16:-2", "u16:65535", "s32:1000", "f32:1.0", "hex:0aFF", "str:C:\\a"}) {
    ASSERT_TRUE(client::EncodeField(field, body, error)) << field << ": " << error;
  }
  const std::vector<std::uint8_t> expected = {0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x00, 0x03, 0xE8, 0x3F, 0x80, 0x00,
                                              0x00, 0x0A, 0xFF, 'C',  ':',  '\\', 'a',  0x00};
  EXPECT_EQ(body, expected);
}

TEST(ClientFields, RejectMalformedAndOutOfRange) {
  std::vector<std::uint8_t> body;
  std::string error;
  for (const char* field : {"s16:32768", "u16:-1", "s32:", "f32:abc", "hex:abc", "hex:zz", "x:1", "12"}) {
    EXPECT_FALSE(client::EncodeField(field, body, error)) << field;
  }
  EXPECT_TRUE(body.empty());
}

TEST(ClientConnection, CallsAndReportsRefusal) {
  scope_double::Reset();
  CapturedOutput output;
  LoopbackServer server;
  client::Connection connection;
  ASSERT_TRUE(connection.Open("127.0.0.1", static_cast<std::uint16_t>(server.port()), 5000));
  client::Reply reply;
  std::string error;
  ASSERT_TRUE(connection.Call("FXSR", {}, reply, error)) << error;
  EXPECT_EQ(reply.length, 70);
  EXPECT_EQ(reply.magic, "BS!a");
  EXPECT_EQ(reply.body.size(), 54u);

  std::vector<TestClient> others;
  for (int i = 0; i < 19; ++i) {
    others.emplace_back(server.port());
    ASSERT_TRUE(others.back().Send(MakeRequest("ZZZZ")));
    ASSERT_EQ(others.back().Receive(16).size(), 16u);
  }
  client::Connection extra;
  ASSERT_TRUE(extra.Open("127.0.0.1", static_cast<std::uint16_t>(server.port()), 5000));
  EXPECT_FALSE(extra.Call("FXSR", {}, reply, error));
  EXPECT_NE(error.find("refused"), std::string::npos);
}

}  // namespace
}  // namespace vesk::testing
