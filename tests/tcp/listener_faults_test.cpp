// Listener start-up failures, injected through the platform table: each
// gives its error line and leaves the server without a listener.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

class ListenerFaultTest : public ::testing::Test {
 protected:
  // Starts a listener on the given table and waits until it settles.
  int StartWith(const plat::PlatformApi& api) {
    faulty = api;
    plat::SetPlatformForTesting(&faulty);
    EXPECT_TRUE(server.StartListener(0));
    return server.WaitUntilListening(5000);
  }
  void TearDown() override { server.Stop(); }

  CapturedOutput output;
  static inline plat::PlatformApi faulty;
  CommandServer server;
};

TEST_F(ListenerFaultTest, SocketLibraryThatWillNotStart) {
  plat::PlatformApi api = plat::Platform();
  api.socketStartup = [] { return 10091; };
  EXPECT_EQ(StartWith(api), -1);
  // "error at WSAStartup():ネットワークサブシステムが準備できない"
  EXPECT_TRUE(output.WaitForStandardError("error at WSAStartup():\x83l\x83\x62\x83g\x83\x8f\x81[\x83N", 5000));
  EXPECT_EQ(output.StandardError().find("open..."), std::string::npos);
}

TEST_F(ListenerFaultTest, HostNameThatDoesNotResolveOnlyWarns) {
  plat::PlatformApi api = plat::Platform();
  api.resolveIPv4 = [](const char*, char*, int) { return -1; };
  EXPECT_GT(StartWith(api), 0);
  EXPECT_NE(output.StandardError().find("Warning:Can't get local host IP address.\n"), std::string::npos);
  EXPECT_NE(output.Debugger().find("Warning:Can't get local host IP address.\n"), std::string::npos);
  TestClient client(server.WaitUntilListening(0));
  ASSERT_TRUE(client.Send(MakeRequest("ZZZZ")));
  EXPECT_EQ(client.Receive(16).size(), 16u);
}

TEST_F(ListenerFaultTest, ResolvedAddressIsPrinted) {
  plat::PlatformApi api = plat::Platform();
  api.resolveIPv4 = [](const char*, char* dotted, int size) {
    std::snprintf(dotted, static_cast<std::size_t>(size), "192.0.2.7");
    return 0;
  };
  EXPECT_GT(StartWith(api), 0);
  EXPECT_NE(output.StandardError().find("IP Address:192.0.2.7\nopen...bind...listen...\n"), std::string::npos);
}

TEST_F(ListenerFaultTest, SocketThatCannotBeOpened) {
  plat::PlatformApi api = plat::Platform();
  api.openStreamSocket = [] { return plat::kInvalidSocket; };
  api.lastSocketError = [] { return 10024; };
  EXPECT_EQ(StartWith(api), -1);
  // "error at socket():ファイルの開きすぎ"
  EXPECT_NE(output.StandardError().find("error at socket():\x83t\x83@\x83\x43\x83\x8b\x82\xcc\x8aJ\x82\xab\x82\xb7\x82\xac\n"),
            std::string::npos);
}

TEST_F(ListenerFaultTest, ListenThatFails) {
  plat::PlatformApi api = plat::Platform();
  api.listen = [](plat::SocketHandle, int) { return -1; };
  api.lastSocketError = [] { return 10059; };
  EXPECT_EQ(StartWith(api), -1);
  EXPECT_NE(output.StandardError().find("listen...\nerror at listen():\x96\xa2\x92m\x82\xccWSA\x83G\x83\x89\x81[(10059)\n"),
            std::string::npos);
}

}  // namespace
}  // namespace vesk::testing
