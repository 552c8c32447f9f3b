#include "tests/e2e/service_process.h"

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "tests/support/tcp_support.h"

extern char** environ;

namespace vesk::testing {
namespace {

using Clock = std::chrono::steady_clock;

void PauseBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }

}  // namespace

std::string VeskExecutable() {
  const char* path = std::getenv("VESK_EXECUTABLE");
  return path != nullptr ? path : "";
}

std::string ClientExecutable() {
  const char* path = std::getenv("VESK_CLIENT_EXECUTABLE");
  return path != nullptr ? path : VESK_CLIENT_BUILT;
}

std::string ConfigFile(const std::string& name) { return std::string(VESK_CONFIG_DIR) + "/" + name; }

int FreePort() {
  const plat::PlatformApi& os = plat::NativePlatform();
  const plat::SocketHandle socket = os.openStreamSocket();
  if (socket == plat::kInvalidSocket) return -1;
  int port = -1;
  if (os.bindAnyAddress(socket, 0) == 0) port = os.localPort(socket);
  os.closeSocket(socket);
  return port;
}

bool PortAccepts(int port) {
  const plat::SocketHandle socket = plat::NativePlatform().connectTo("127.0.0.1", static_cast<std::uint16_t>(port));
  if (socket == plat::kInvalidSocket) return false;
  plat::NativePlatform().closeSocket(socket);
  return true;
}

namespace {

// A row of /proc/net/tcp or tcp6 in the listening state (0A) whose local
// address ends in the port, in hexadecimal.
bool ListedAsListening(const char* table, int port) {
  std::ifstream rows(table);
  std::string line;
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", static_cast<unsigned>(port));
  while (std::getline(rows, line)) {
    char local[64] = {};
    char state[8] = {};
    if (std::sscanf(line.c_str(), " %*s %63s %*s %7s", local, state) != 2) continue;
    const std::string address = local;
    if (std::strcmp(state, "0A") == 0 && address.size() > 5 && address.compare(address.size() - 5, 5, suffix) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool WaitUntilListening(int port, std::uint32_t timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ListedAsListening("/proc/net/tcp", port) && !ListedAsListening("/proc/net/tcp6", port)) {
    if (Clock::now() > deadline) return false;
    PauseBriefly();
  }
  return true;
}

ServiceProcess::ServiceProcess(std::vector<std::string> arguments, std::string runtimeDir, std::string program)
    : arguments_(std::move(arguments)),
      program_(program.empty() ? VeskExecutable() : std::move(program)),
      runtimeDir_(std::move(runtimeDir)) {}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (errorReader_.joinable()) errorReader_.join();
  if (outputReader_.joinable()) outputReader_.join();
}

bool ServiceProcess::Start() {
  int errorPipe[2];
  int outputPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return false;
  if (::pipe2(outputPipe, O_CLOEXEC) != 0) return false;

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "VESK_RUNTIME_DIR=", 17) != 0) environment.emplace_back(*entry);
  }
  environment.push_back("VESK_RUNTIME_DIR=" + runtimeDir_);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::vector<char*> argv{program_.data()};
  for (std::string& argument : arguments_) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
  // The child starts with default signal handling and nothing blocked,
  // whatever this test process does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int spawned = ::posix_spawn(&pid_, program_.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(errorPipe[1]);
  ::close(outputPipe[1]);
  if (spawned != 0) {
    pid_ = -1;
    ::close(errorPipe[0]);
    ::close(outputPipe[0]);
    return false;
  }
  errorReader_ = std::thread([this, fd = errorPipe[0]] { Collect(fd, &standardError_); });
  outputReader_ = std::thread([this, fd = outputPipe[0]] { Collect(fd, &standardOutput_); });
  return true;
}

void ServiceProcess::Collect(int fd, std::string* into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard<std::mutex> guard(mutex_);
    into->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
}

void ServiceProcess::Signal(int signal) {
  if (pid_ > 0 && !ended_) ::kill(pid_, signal);
}

std::optional<int> ServiceProcess::WaitForExit(std::uint32_t timeoutMs) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ended_) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
      break;
    }
    if (Clock::now() > deadline) return std::nullopt;
    PauseBriefly();
  }
  // Its output is complete once the pipes have closed.
  if (errorReader_.joinable()) errorReader_.join();
  if (outputReader_.joinable()) outputReader_.join();
  return exitCode_;
}

bool ServiceProcess::WaitForText(const std::string* stream, const std::string& text, std::uint32_t timeoutMs,
                                 int times) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (CountOf(*stream, text) >= times) return true;
    }
    if (Clock::now() > deadline) return false;
    PauseBriefly();
  }
}

bool ServiceProcess::WaitForStandardError(const std::string& text, std::uint32_t timeoutMs, int times) {
  return WaitForText(&standardError_, text, timeoutMs, times);
}

bool ServiceProcess::WaitForStandardOutput(const std::string& text, std::uint32_t timeoutMs, int times) {
  return WaitForText(&standardOutput_, text, timeoutMs, times);
}

std::string ServiceProcess::StandardError() {
  std::lock_guard<std::mutex> guard(mutex_);
  return standardError_;
}

std::string ServiceProcess::StandardOutput() {
  std::lock_guard<std::mutex> guard(mutex_);
  return standardOutput_;
}

}  // namespace vesk::testing
