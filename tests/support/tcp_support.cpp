#include "tests/support/tcp_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "protocol/wire.h"

namespace vesk::testing {
namespace {

std::mutex outputMutex;
std::string standardError;
std::string standardOutput;
std::string debugger;

void CaptureError(const char* text) {
  std::lock_guard<std::mutex> guard(outputMutex);
  standardError += text;
}
void CaptureOutput(const char* text) {
  std::lock_guard<std::mutex> guard(outputMutex);
  standardOutput += text;
}
void CaptureDebug(const char* text) {
  std::lock_guard<std::mutex> guard(outputMutex);
  debugger += text;
}

bool WaitFor(const std::string& stream, const std::string& text, std::uint32_t timeoutMs, int times) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(outputMutex);
      if (CountOf(stream, text) >= times) return true;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

int CountOf(const std::string& haystack, const std::string& needle) {
  int count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

CapturedOutput::CapturedOutput() : api_(plat::NativePlatform()) {
  {
    std::lock_guard<std::mutex> guard(outputMutex);
    standardError.clear();
    standardOutput.clear();
    debugger.clear();
  }
  api_.writeStandardError = CaptureError;
  api_.writeStandardOutput = CaptureOutput;
  api_.debugOutput = CaptureDebug;
  plat::SetPlatformForTesting(&api_);
}

CapturedOutput::~CapturedOutput() { plat::SetPlatformForTesting(nullptr); }

std::string CapturedOutput::StandardError() const {
  std::lock_guard<std::mutex> guard(outputMutex);
  return standardError;
}
std::string CapturedOutput::StandardOutput() const {
  std::lock_guard<std::mutex> guard(outputMutex);
  return standardOutput;
}
std::string CapturedOutput::Debugger() const {
  std::lock_guard<std::mutex> guard(outputMutex);
  return debugger;
}
bool CapturedOutput::WaitForStandardError(const std::string& text, std::uint32_t timeoutMs, int times) const {
  return WaitFor(standardError, text, timeoutMs, times);
}
bool CapturedOutput::WaitForStandardOutput(const std::string& text, std::uint32_t timeoutMs, int times) const {
  return WaitFor(standardOutput, text, timeoutMs, times);
}
bool CapturedOutput::WaitForDebugger(const std::string& text, std::uint32_t timeoutMs, int times) const {
  return WaitFor(debugger, text, timeoutMs, times);
}

TestClient::~TestClient() { Close(); }

TestClient::TestClient(TestClient&& other) noexcept : socket_(other.socket_) {
  other.socket_ = plat::kInvalidSocket;
}

bool TestClient::Connect(int port) {
  Close();
  socket_ = plat::NativePlatform().connectTo("127.0.0.1", static_cast<std::uint16_t>(port));
  return connected();
}

bool TestClient::Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    int n = plat::NativePlatform().send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<std::uint8_t> TestClient::Receive(std::size_t count, std::uint32_t timeoutMs) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t received = 0;
  plat::NativePlatform().setReceiveTimeout(socket_, timeoutMs);
  while (received < count) {
    int n = plat::NativePlatform().recv(socket_, bytes.data() + received, static_cast<int>(count - received), 0);
    if (n <= 0) break;
    received += static_cast<std::size_t>(n);
  }
  bytes.resize(received);
  return bytes;
}

bool TestClient::WaitForClose(std::uint32_t timeoutMs) {
  plat::NativePlatform().setReceiveTimeout(socket_, timeoutMs);
  std::uint8_t byte = 0;
  for (;;) {
    int n = plat::NativePlatform().recv(socket_, &byte, 1, 0);
    if (n == 0) return true;
    if (n < 0) {
      // A receive time-out: would-block on POSIX, timed-out on Windows.
      const int error = plat::NativePlatform().lastSocketError();
      return error != plat::kWsaEwouldblock && error != plat::kWsaEtimedout;
    }
  }
}

void TestClient::Close() {
  if (socket_ != plat::kInvalidSocket) {
    plat::NativePlatform().closeSocket(socket_);
    socket_ = plat::kInvalidSocket;
  }
}

std::vector<std::uint8_t> MakeRequest(const char* code, const std::vector<std::uint8_t>& body, std::int16_t status) {
  std::vector<std::uint8_t> bytes(16 + body.size(), 0);
  WriteU16(bytes.data(), static_cast<std::uint16_t>(bytes.size()));
  std::memcpy(bytes.data() + 6, code, 4);
  WriteS16(bytes.data() + 10, status);
  if (!body.empty()) std::memcpy(bytes.data() + 16, body.data(), body.size());
  return bytes;
}

LoopbackServer::LoopbackServer() : server_(std::make_unique<CommandServer>()) {
  server_->SetMaxPerAddress(0);  // every test client comes from the one loopback address
  EXPECT_TRUE(server_->StartListener(0));
  port_ = server_->WaitUntilListening(5000);
  EXPECT_GT(port_, 0);
}

LoopbackServer::~LoopbackServer() { server_->Stop(UINT32_MAX); }

}  // namespace vesk::testing
