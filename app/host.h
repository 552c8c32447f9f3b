// The service's entry point after the runtime's start-up (WinMain on
// Windows): single instance, the hidden window and the message loop.
#pragma once

#include <cstdint>

#include "app/host_window.h"
#include "server/command_server.h"

namespace vesk::host {

inline constexpr char kInstanceName[] = "VeskInstance";

struct HostOptions {
  std::uint16_t port = kDefaultPort;
  // nullptr: the window drives the one CommandServer.
  const HostServices* services = nullptr;
  const char* instanceName = kInstanceName;
  // Run once this process is the one instance, before the window exists:
  // work that would disturb a running instance (removing the temporaries
  // of its writes under way) waits until then. A non-zero result ends the
  // start with that exit code.
  int (*prepareSoleInstance)(const void* context) = nullptr;
  const void* prepareContext = nullptr;
};

// Runs the service until its window is destroyed; the exit code (0, also
// for a second instance and for a start refused by the registry; 2 for a
// malformed AllowedClients registry value).
int RunHost(const HostOptions& options);

// Asks the running service to leave as the manager's quit request does
// (1224/2 to its own window): for Ctrl+C, Ctrl+Break and a closed console.
// Safe on any thread; asked before the window exists, it takes effect as
// soon as the window does.
void RequestLeave();

}  // namespace vesk::host
