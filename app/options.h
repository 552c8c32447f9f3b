// The service's command line on platforms where it is configured by one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/command_server.h"

namespace vesk::app {

// Options for the simulated instrument; unset values keep the simulator's
// defaults. Passed on as they are (see scope_link.h).
struct SimulatorOptions {
  std::optional<int> instrumentType;                       // --instrument-type N
  std::optional<double> timeScale;                         // --time-scale X
  std::optional<std::uint64_t> seed;                       // --seed N
  std::vector<std::string> refusedOperations;              // --refuse NAME, repeatable
  std::vector<std::pair<std::string, std::string>> pins;   // --pin NAME=VALUE, repeatable
  std::optional<std::string> imageFolder;                  // --image-folder DIR
  std::optional<std::string> scenarioFile;                 // --scenario FILE
  std::optional<std::uint16_t> viewPort;                   // --view-port N (0: any free port)
  std::optional<std::string> viewAddress;                  // --view-address A

  bool AnyGiven() const {
    return instrumentType || timeScale || seed || !refusedOperations.empty() || !pins.empty() || imageFolder ||
           scenarioFile || viewPort || viewAddress;
  }
};

struct ServiceOptions {
  std::uint16_t port = kDefaultPort;
  std::string registryFile;   // empty: an empty registry, so the service does not start
  std::string settingsFile;   // empty: the platform's default
  std::optional<std::uint32_t> replySendTimeoutMs;
  std::optional<std::uint32_t> requestTimeoutMs;
  std::optional<std::uint32_t> idleReclaimMs;
  std::optional<std::uint32_t> keepAliveMs;
  std::optional<int> maxPerAddress;
  std::vector<std::string> allowedClients;  // --allow ADDRESS[/BITS], repeatable; checked by Configure
  bool logManager = false;
  SimulatorOptions simulator;
};

// Parses the command line into options. Returns -1 to go on, or the exit
// code to end with at once (0 after --help; non-zero after an error, which
// has been reported). A scalar option given twice takes its last value, so
// a wrapper's defaults can be overridden by arguments after them.
int ParseCommandLine(int argc, const char* const* argv, ServiceOptions* options);

}  // namespace vesk::app
