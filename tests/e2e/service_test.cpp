// The vesk program end to end: single instance, the registry's enable
// flags, stopping by signal with clients connected, and commands over TCP.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/stat.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/command_table.h"
#include "tests/e2e/service_process.h"
#include "tests/support/tcp_support.h"
#include "tests/support/temp_dir.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWatchdogMs = 10000;
constexpr char kListening[] = "listen...\n";

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(VeskExecutable().empty()) << "VESK_EXECUTABLE is not set"; }

  // A service with the given registry file on a free port.
  std::unique_ptr<ServiceProcess> Launch(const std::string& registry, std::vector<std::string> extra = {}) {
    port = FreePort();
    std::vector<std::string> arguments = {"--port", std::to_string(port), "--settings-file",
                                          directory.File("seminfo.ini")};
    if (!registry.empty()) arguments.insert(arguments.end(), {"--registry", registry});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto process = std::make_unique<ServiceProcess>(arguments, directory.path());
    EXPECT_TRUE(process->Start());
    return process;
  }
  std::unique_ptr<ServiceProcess> Serving(const std::string& registry, std::vector<std::string> extra = {}) {
    auto process = Launch(registry, std::move(extra));
    EXPECT_TRUE(process->WaitForStandardError(kListening, kWatchdogMs)) << process->StandardError();
    EXPECT_TRUE(WaitUntilListening(port, kWatchdogMs));
    return process;
  }

  TempDir directory;  // also the instance-lock directory of this test
  int port = -1;
};

// The 70-byte high-voltage reading answers with its header intact.
void ExpectFxsrServed(int port) {
  TestClient client(port);
  ASSERT_TRUE(client.connected());
  Bytes request = MakeRequest("FXSR", {}, 0x0007);
  std::memcpy(request.data() + 12, "RSVD", 4);
  ASSERT_TRUE(client.Send(request));
  const Bytes reply = client.Receive(70);
  ASSERT_EQ(reply.size(), 70u);
  const Bytes head(reply.begin(), reply.begin() + 16);
  EXPECT_EQ(head, (Bytes{0x00, 0x46, 'B', 'S', '!', 'a', 'F', 'X', 'S', 'R', 0x00, 0x07, 'R', 'S', 'V', 'D'}));
}

TEST_F(ServiceTest, FxsrIsServedOverTcp) {
  auto service = Serving(ConfigFile("vesk-both.reg"));
  ExpectFxsrServed(port);
  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(kWatchdogMs), 0);
}

// FEBS against the simulated instrument: the high voltage comes on; with
// the vacuum pinned to "not ready" the simulator refuses it.
std::int16_t SwitchHighVoltageOn(int port, std::int16_t* htState) {
  TestClient client(port);
  EXPECT_TRUE(client.Send(MakeRequest("FEBS", {0x00, 0x01})));
  const Bytes reply = client.Receive(70);
  EXPECT_EQ(reply.size(), 70u);
  if (reply.size() != 70u) return 0;
  *htState = ReadS16(reply.data() + 16 + 2);
  return ReadS16(reply.data() + 10);
}

TEST_F(ServiceTest, HighVoltageSwitchesOnTheSimulatedInstrument) {
  auto service = Serving(ConfigFile("vesk-both.reg"), {"--time-scale", "0"});
  std::int16_t htState = 0;
  EXPECT_EQ(SwitchHighVoltageOn(port, &htState), 54);
  EXPECT_EQ(htState, 2);
}

TEST_F(ServiceTest, SimulatorOptionsReachTheInstrument) {
  auto service = Serving(ConfigFile("vesk-both.reg"), {"--pin", "GetVacuumStatus=1"});
  std::int16_t htState = -5;
  EXPECT_EQ(SwitchHighVoltageOn(port, &htState), -1);
  EXPECT_EQ(htState, 0);  // off, and no vacuum
}

TEST_F(ServiceTest, BadSimulatorOptionEndsWithAnError) {
  auto service = Launch(ConfigFile("vesk-both.reg"), {"--refuse", "NoSuchOperation"});
  EXPECT_EQ(service->WaitForExit(kWatchdogMs), 2);
}

// The second instance also leaves alone the temporaries of the first one's
// writes under way.
TEST_F(ServiceTest, SecondInstanceEndsAtOnceAndTheFirstKeepsServing) {
  const std::vector<std::string> images = {"--image-folder", directory.File("images")};
  auto first = Serving(ConfigFile("vesk-both.reg"), images);
  const int firstPort = port;
  const std::string writesUnderWay[] = {directory.File("seminfo.ini.Ab12Cd"), directory.File("images/a.bmp.vesk-part")};
  std::filesystem::create_directories(directory.File("images"));
  for (const std::string& file : writesUnderWay) std::ofstream(file) << "half";
  auto second = Launch(ConfigFile("vesk-both.reg"), images);  // same lock directory, another port
  EXPECT_EQ(second->WaitForExit(kWatchdogMs), 0);
  EXPECT_NE(second->StandardError().find("another instance is already running"), std::string::npos);
  EXPECT_FALSE(PortAccepts(port));
  for (const std::string& file : writesUnderWay) EXPECT_TRUE(std::filesystem::exists(file)) << file;
  ExpectFxsrServed(firstPort);
  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitForExit(kWatchdogMs), 0);
}

// Twenty connections that never send hold every slot only until the idle
// time is up; a header that stops half-way is closed at the request time-out.
TEST_F(ServiceTest, SilentConnectionsGiveWayToANewcomerAfterTheIdleTime) {
  auto service = Serving(ConfigFile("vesk-both.reg"), {"--idle-reclaim-ms", "2000", "--request-timeout-ms", "300", "--max-per-address", "0"});
  std::vector<TestClient> silent;
  for (int i = 0; i < 20; ++i) {
    silent.emplace_back(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // within the listen backlog
  }
  const std::string refusal = "SRV ERR\r\n";
  TestClient early(port);
  EXPECT_EQ(early.Receive(9), Bytes(refusal.begin(), refusal.end()));
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  TestClient partial(port);
  ASSERT_TRUE(partial.Send({0x00, 0x10, 0, 0}));
  EXPECT_TRUE(partial.WaitForClose(3000));
  EXPECT_TRUE(service->WaitForStandardError("request not complete within 300 ms, closed.\n", kWatchdogMs));
  ExpectFxsrServed(port);
  EXPECT_TRUE(service->WaitForStandardError(" idle for ", kWatchdogMs));
}

TEST_F(ServiceTest, CrashedInstanceDoesNotBlockTheNextStart) {
  auto crashed = Serving(ConfigFile("vesk-both.reg"));
  crashed->Signal(SIGKILL);
  EXPECT_EQ(crashed->WaitForExit(kWatchdogMs), std::nullopt);  // killed, no exit code
  auto next = Serving(ConfigFile("vesk-both.reg"));
  ExpectFxsrServed(port);
  next->Signal(SIGTERM);
  EXPECT_EQ(next->WaitForExit(kWatchdogMs), 0);
}

TEST_F(ServiceTest, WithoutEnableFlagTheServiceEndsWithZeroAndNeverListens) {
  for (const std::string& registry : {ConfigFile("vesk-neither.reg"), std::string()}) {
    auto service = Launch(registry, {"--log-manager"});
    EXPECT_EQ(service->WaitForExit(kWatchdogMs), 0) << registry;
    EXPECT_EQ(service->StandardError(), "") << registry;  // no listener, no notice to the manager
    EXPECT_FALSE(PortAccepts(port)) << registry;
  }
}

TEST_F(ServiceTest, EnableVeskAloneServesBaseCodesAndEchoesExtendedOnes) {
  auto service = Serving(ConfigFile("vesk-only.reg"));
  ExpectFxsrServed(port);
  TestClient client(port);
  for (const CommandTableEntry& entry : ExtendedCommandTable()) {
    const Bytes request = MakeRequest(entry.code, {0x00, 0x01, 0x02, 0x03}, 0x0005);
    ASSERT_TRUE(client.Send(request));
    EXPECT_EQ(client.Receive(request.size()), request) << entry.code;
  }
  service->Signal(SIGTERM);
  EXPECT_EQ(service->WaitForExit(kWatchdogMs), 0);
}

TEST_F(ServiceTest, EnableFenkServesBothTablesWithOrWithoutEnableVesk) {
  const std::string fenkOnly = directory.Write("fenk-only.reg",
                                               "Windows Registry Editor Version 5.00\n\n"
                                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Fenk\\Settings]\n"
                                               "\"EnableFenk\"=dword:00000001\n");
  for (const std::string& registry : {ConfigFile("vesk-both.reg"), fenkOnly}) {
    SCOPED_TRACE(registry);
    auto service = Serving(registry);
    ExpectFxsrServed(port);
    // Every served extended code answers with a reply of its own, never
    // with the request. (ISAV may wait for a capture: left out.)
    TestClient client(port);
    for (const CommandTableEntry& entry : ExtendedCommandTable()) {
      if (entry.handler == nullptr || std::strcmp(entry.code, "ISAV") == 0) continue;
      ASSERT_TRUE(client.Send(MakeRequest(entry.code, Bytes(268, 0))));
      const Bytes head = client.Receive(16);
      ASSERT_EQ(head.size(), 16u) << entry.code;
      EXPECT_EQ(Bytes(head.begin() + 2, head.begin() + 6), (Bytes{'B', 'S', '!', 'a'})) << entry.code;
      const std::size_t length = static_cast<std::size_t>(head[0]) << 8 | head[1];
      ASSERT_GE(length, 16u);
      ASSERT_EQ(client.Receive(length - 16).size(), length - 16) << entry.code;
    }
    service->Signal(SIGTERM);
    EXPECT_EQ(service->WaitForExit(kWatchdogMs), 0);
  }
}

TEST_F(ServiceTest, StopSignalsEndTheServiceInOrderWhileClientsAreConnected) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    auto service = Serving(ConfigFile("vesk-both.reg"), {"--log-manager"});
    std::vector<TestClient> clients;
    clients.reserve(3);
    for (int i = 0; i < 3; ++i) {
      clients.emplace_back(port);
      ASSERT_TRUE(clients.back().Send(MakeRequest("FXSR")));
      ASSERT_EQ(clients.back().Receive(70).size(), 70u);
    }
    service->Signal(signal);
    EXPECT_EQ(service->WaitForExit(kWatchdogMs), 0);
    for (TestClient& client : clients) EXPECT_TRUE(client.WaitForClose(kWatchdogMs));
    const std::string errors = service->StandardError();
    const std::size_t started = errors.find("manager: received 1233 100 2\n");
    const std::size_t asked = errors.find("manager: sent 1224 2 0\n");
    const std::size_t leaving = errors.find("manager: received 1233 101 2\n");
    ASSERT_NE(started, std::string::npos) << errors;
    ASSERT_NE(asked, std::string::npos) << errors;
    ASSERT_NE(leaving, std::string::npos) << errors;
    EXPECT_LT(started, asked);
    EXPECT_LT(asked, leaving);
    EXPECT_EQ(CountOf(service->StandardOutput(), " left.\n"), 3);
    EXPECT_FALSE(PortAccepts(port));
  }
}

TEST_F(ServiceTest, UnreadableRegistryFileIsAnError) {
  const std::string notExport = directory.Write("plain.txt", "EnableVesk=1\n");
  auto service = Launch(notExport);
  EXPECT_EQ(service->WaitForExit(kWatchdogMs), 2);
  EXPECT_NE(service->StandardError().find("is not a registry export file"), std::string::npos);
}

TEST_F(ServiceTest, UnusableStartUpSettingsEndWithOneLineAndCodeTwo) {
  const std::string badValue = directory.Write(
      "allow.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n"
                   "\"EnableVesk\"=dword:00000001\n\"AllowedClients\"=\"10.1.0.0/16; 10.2.0.0/40\"\n");
  const struct {
    std::string registry;
    std::vector<std::string> extra;
    const char* line;
  } cases[] = {
      {"/dev/zero", {}, "vesk: registry file '/dev/zero' is not a regular file\n"},
      {ConfigFile("vesk-both.reg"), {"--allow", "10.1.0.0/16", "--allow", "10.1.0.0.1"}, "vesk: --allow 10.1.0.0.1: not"},
      {badValue, {}, "error in AllowedClients: '10.2.0.0/40' is not"},
  };
  for (const auto& c : cases) {
    auto service = Launch(c.registry, c.extra);
    EXPECT_EQ(service->WaitForExit(kWatchdogMs), 2) << c.line;
    EXPECT_EQ(service->StandardError().find(c.line), 0u) << service->StandardError();
    EXPECT_FALSE(PortAccepts(port));
  }
}

// Inputs that would hang the start-up or mean nothing end it at once.
TEST_F(ServiceTest, UnusableScenarioOrViewPortEndsWithOneLineAndCodeTwo) {
  const std::string fifo = directory.File("scenario.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(directory.File("folder"));
  const int takenPort = FreePort();
  const struct {
    std::vector<std::string> extra;
    std::string line;
  } cases[] = {
      {{"--scenario", fifo}, "vesk: simulator: " + fifo + ": not a regular file"},
      {{"--scenario", directory.File("folder")}, "vesk: simulator: " + directory.File("folder") + ": not a regular"},
      {{"--scenario", "/dev/zero"}, "vesk: simulator: /dev/zero: not a regular file"},
      {{"--view-port", "PORT"}, "vesk: --view-port PORT is the service's own port (--port)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> extra = c.extra;
    std::string line = c.line;
    if (extra[1] == "PORT") {  // the port Launch picks is not known before
      extra = {"--view-port", std::to_string(takenPort), "--port", std::to_string(takenPort)};
      line.replace(line.find("PORT"), 4, std::to_string(takenPort));
    }
    auto service = Launch(ConfigFile("vesk-both.reg"), extra);
    EXPECT_EQ(service->WaitForExit(kWatchdogMs), 2) << line;
    EXPECT_EQ(service->StandardError().find(line), 0u) << service->StandardError();
    EXPECT_EQ(CountOf(service->StandardError(), "\n"), 1) << service->StandardError();
  }
}

// The port of the live view the service reported, or -1 (no view here).
int ViewPortOf(ServiceProcess& service) {
  const std::string announce = "live view on http://";
  if (!service.WaitForStandardError(announce, kWatchdogMs)) return -1;
  const std::string text = service.StandardError();
  const std::size_t colon = text.find(':', text.find(announce) + announce.size());
  return std::atoi(text.c_str() + colon + 1);
}

// Clients that connect and say nothing or trickle their request keep pages
// neither from a browser nor commands from the command server's clients.
TEST_F(ServiceTest, LiveViewServesPagesAndCommandsUnderStalledClients) {
  auto service = Launch(ConfigFile("vesk-both.reg"), {"--view-port", "0", "--view-address", "0.0.0.0"});
  const int view = ViewPortOf(*service);
  if (view < 0 && service->StandardError().find("has no live view") != std::string::npos) {
    GTEST_SKIP() << "this build has no live view";
  }
  ASSERT_GT(view, 0) << service->StandardError();
  ASSERT_TRUE(service->WaitForStandardError(kListening, kWatchdogMs)) << service->StandardError();
  ASSERT_TRUE(WaitUntilListening(port, kWatchdogMs));
  EXPECT_TRUE(service->WaitForStandardError("Warning:the live view listens on 0.0.0.0, beyond this machine", 1000));
  std::vector<TestClient> silent;
  for (int i = 0; i < 50; ++i) silent.emplace_back(view);
  std::vector<TestClient> tricklers;
  for (int i = 0; i < 8; ++i) tricklers.emplace_back(view);
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (std::size_t at = 0; !stop.load(); at = (at + 1) % request.size()) {
      for (TestClient& client : tricklers) client.Send({static_cast<std::uint8_t>(request[at])});
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  const auto pageStatus = [view] {
    TestClient browser(view);
    const std::string get = "GET /state HTTP/1.1\r\nHost: x\r\n\r\n";
    browser.Send(Bytes(get.begin(), get.end()));
    const Bytes head = browser.Receive(12, 8000);
    return std::string(head.begin(), head.end());
  };
  for (int page = 0; page < 4; ++page) EXPECT_EQ(pageStatus(), "HTTP/1.1 200") << "page " << page;
  ExpectFxsrServed(port);
  stop.store(true);
  trickle.join();
}

// vesk-client's exit codes against the service: what a script can tell apart.
TEST_F(ServiceTest, ClientExitCodesTellTheOutcomes) {
  ASSERT_FALSE(ClientExecutable().empty()) << "VESK_CLIENT_EXECUTABLE is not set";
  auto service = Serving(ConfigFile("vesk-both.reg"), {"--pin", "GetVacuumStatus=1"});
  const int served = port;
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    const char* error;  // start of the error output
  } cases[] = {
      {{"FXSR"}, 0, ""},
      {{"FEBS", "highVoltage=1"}, 1, ""},  // no vacuum
      {{"FVAS"}, 2, "vesk-client: FVAS: missing acceleratingVoltage"},
      {{"FXSR", "s16:1"}, 2, "vesk-client: FXSR: 2 surplus body bytes"},
      {{"ZZZZ"}, 3, ""},
      {{"--port", std::to_string(FreePort()), "FXSR"}, 4, "vesk-client: cannot connect"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"--port", std::to_string(served)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    if (c.arguments[0] == "--port") arguments = c.arguments;
    ServiceProcess client(arguments, directory.path(), ClientExecutable());
    ASSERT_TRUE(client.Start());
    EXPECT_EQ(client.WaitForExit(kWatchdogMs), c.exitCode) << c.arguments[0] << " " << client.StandardError();
    EXPECT_EQ(client.StandardError().rfind(c.error, 0), 0u) << client.StandardError();
  }
}

}  // namespace
}  // namespace vesk::testing
