// Helpers for tests over real loopback TCP: a server on a free port, a
// client with time-outs, and capture of the server's diagnostic output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "server/command_server.h"

namespace vesk::testing {

// Replaces the platform's output functions with a capture for the lifetime
// of the object; install before any server thread starts.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  std::string StandardError() const;
  std::string StandardOutput() const;
  std::string Debugger() const;
  // Waits until the stream holds `text` at least `times` times.
  bool WaitForStandardError(const std::string& text, std::uint32_t timeoutMs, int times = 1) const;
  bool WaitForStandardOutput(const std::string& text, std::uint32_t timeoutMs, int times = 1) const;
  // The debugger output comes after the standard stream's copy of a line.
  bool WaitForDebugger(const std::string& text, std::uint32_t timeoutMs, int times = 1) const;

 private:
  plat::PlatformApi api_;
};

// Counts non-overlapping occurrences of needle in haystack.
int CountOf(const std::string& haystack, const std::string& needle);

class TestClient {
 public:
  TestClient() = default;
  explicit TestClient(int port) { Connect(port); }
  ~TestClient();
  TestClient(TestClient&& other) noexcept;
  TestClient& operator=(TestClient&&) = delete;
  TestClient(const TestClient&) = delete;

  bool Connect(int port);
  bool connected() const { return socket_ != plat::kInvalidSocket; }
  bool Send(const std::vector<std::uint8_t>& bytes);
  // Exactly count bytes within the time-out, or fewer if the connection
  // ended or the time ran out.
  std::vector<std::uint8_t> Receive(std::size_t count, std::uint32_t timeoutMs = 5000);
  // True when the server closed the connection (end of stream) in time.
  bool WaitForClose(std::uint32_t timeoutMs = 5000);
  void Close();

 private:
  plat::SocketHandle socket_ = plat::kInvalidSocket;
};

// A request: header with code and length 16 + body size, then the body.
std::vector<std::uint8_t> MakeRequest(const char* code, const std::vector<std::uint8_t>& body = {},
                                      std::int16_t status = 0);

// Runs `DispatchCommand` over TCP: a CommandServer on a free loopback port.
class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  int port() const { return port_; }
  CommandServer& server() { return *server_; }

 private:
  std::unique_ptr<CommandServer> server_;
  int port_ = -1;
};

}  // namespace vesk::testing
