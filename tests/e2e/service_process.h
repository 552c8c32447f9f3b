// The vesk program as a child process: started with arguments and an
// instance-lock directory of its own, its output collected, its end awaited
// with a watchdog.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace vesk::testing {

// The executable under test ($VESK_EXECUTABLE), and the command-line client
// ($VESK_CLIENT_EXECUTABLE).
std::string VeskExecutable();
std::string ClientExecutable();
// A file of the shipped configuration, e.g. ConfigFile("vesk-both.reg").
std::string ConfigFile(const std::string& name);
// A loopback port that was free a moment ago.
int FreePort();
// True when something accepts connections on the loopback port.
bool PortAccepts(int port);
// Waits until a socket listens on the port, without connecting to it (a
// connection would show in the service's output): its "listen..." line
// comes just before the listen call, which a slow (emulated) service may
// not have made yet.
bool WaitUntilListening(int port, std::uint32_t timeoutMs);

class ServiceProcess {
 public:
  // runtimeDir holds the instance lock (VESK_RUNTIME_DIR). program: vesk
  // unless given.
  ServiceProcess(std::vector<std::string> arguments, std::string runtimeDir, std::string program = "");
  ~ServiceProcess();  // kills a process still running
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool Start();
  void Signal(int signal);
  // The exit code once the process has ended, or nullopt if it was still
  // running at the time-out (or ended by a signal).
  std::optional<int> WaitForExit(std::uint32_t timeoutMs);
  bool WaitForStandardError(const std::string& text, std::uint32_t timeoutMs, int times = 1);
  bool WaitForStandardOutput(const std::string& text, std::uint32_t timeoutMs, int times = 1);
  std::string StandardError();
  std::string StandardOutput();

 private:
  void Collect(int fd, std::string* into);
  bool WaitForText(const std::string* stream, const std::string& text, std::uint32_t timeoutMs, int times);

  std::vector<std::string> arguments_;
  std::string program_;
  std::string runtimeDir_;
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  bool ended_ = false;
  std::mutex mutex_;
  std::string standardError_;
  std::string standardOutput_;
  std::thread errorReader_;
  std::thread outputReader_;
};

}  // namespace vesk::testing
