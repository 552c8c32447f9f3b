// The client library against a real server on loopback.
#include <gtest/gtest.h>

#include <thread>

#include "client/catalogue_fields.h"
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

TEST(ClientFields, TypedBodiesMustMatchTheCommandsLayout) {
  const struct {
    const char* code;
    std::vector<std::uint8_t> body;
    const char* error;  // "" when accepted
  } cases[] = {
      {"FVAS", {}, "FVAS: missing acceleratingVoltage (4 body bytes needed, 0 given)"},
      {"FVAS", {0x41, 0x70, 0, 0}, ""},
      {"FVAS", {0x41, 0x70, 0, 0, 0}, "FVAS: 1 surplus body bytes (its fields: acceleratingVoltage; 4 bytes needed, 5 given)"},
      {"FXSR", {}, ""},
      {"FXSR", {0, 0}, "FXSR: 2 surplus body bytes (it takes no request fields; 0 bytes needed, 2 given)"},
      {"IFSS", {}, "IFSS: missing path (1 or more body bytes needed, 0 given)"},
      {"IFSS", {'a', 'b', 0}, ""},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(client::CheckRequestBody(*client::FindCommandInfo(c.code), c.body, error), c.error[0] == '\0')
        << c.code;
    EXPECT_EQ(error, c.error) << c.code;
  }
}

// A peer that reads one request and answers it with `reply` (nothing when
// empty), then waits for the client to close.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<std::uint8_t> reply) {
    const plat::PlatformApi& os = plat::Platform();
    listening_ = os.openStreamSocket();
    EXPECT_EQ(os.bindAnyAddress(listening_, 0), 0);
    EXPECT_EQ(os.listen(listening_, 1), 0);
    port_ = static_cast<std::uint16_t>(os.localPort(listening_));
    thread_ = std::thread([this, reply] {
      const plat::SocketHandle peer = plat::Platform().accept(listening_, nullptr);
      plat::Platform().setReceiveTimeout(peer, 5000);
      std::uint8_t request[16];
      plat::Platform().recv(peer, request, 16, 0);
      if (!reply.empty()) plat::Platform().send(peer, reply.data(), static_cast<int>(reply.size()));
      std::uint8_t rest;
      closedByClient_ = plat::Platform().recv(peer, &rest, 1, 0) == 0;
      plat::Platform().closeSocket(peer);
    });
  }
  ~ScriptedPeer() {
    if (thread_.joinable()) thread_.join();
    plat::Platform().closeSocket(listening_);
  }
  std::uint16_t port() const { return port_; }
  // True when the client closed the connection within 5 s of the request.
  bool ClosedByClient() {
    if (thread_.joinable()) thread_.join();
    return closedByClient_;
  }

 private:
  plat::SocketHandle listening_ = plat::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::thread thread_;
  bool closedByClient_ = false;
};

TEST(ClientConnection, ClosesAfterATimeOutOrAReplyToAnotherRequest) {
  std::vector<std::uint8_t> otherCode = MakeRequest("FXSR");
  std::copy_n("BS!a", 4, otherCode.begin() + 2);
  std::vector<std::uint8_t> noMagic = MakeRequest("EMGS");
  noMagic[12] = 1;  // not the request's own bytes either
  const struct {
    const char* name;
    std::vector<std::uint8_t> reply;
    const char* error;
  } cases[] = {
      {"silent", {}, "no reply (connection closed or timed out)"},
      {"other code", otherCode, "reply does not answer this request"},
      {"no magic", noMagic, "reply does not answer this request"},
  };
  for (const auto& c : cases) {
    ScriptedPeer peer(c.reply);
    client::Connection connection;
    ASSERT_TRUE(connection.Open("127.0.0.1", peer.port(), 300));
    client::Reply reply;
    std::string error;
    EXPECT_FALSE(connection.Call("EMGS", {}, reply, error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(peer.ClosedByClient()) << c.name;
    EXPECT_FALSE(connection.Call("EMGS", {}, reply, error)) << c.name;
    EXPECT_EQ(error, "not connected") << c.name;
  }
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
