#include "app/options.h"

#include <CLI/CLI.hpp>

namespace vesk::app {
namespace {

// "NAME=VALUE" with a non-empty name; the value may be empty.
std::string CheckPin(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return "expected NAME=VALUE, got '" + text + "'";
  return std::string();
}

void AddServiceOptions(CLI::App& app, ServiceOptions& options) {
  app.add_option("--port", options.port, "TCP port to listen on")->check(CLI::Range(1, 65535))->capture_default_str();
  app.add_option("--registry", options.registryFile,
                 "registry export file (.reg) holding HKEY_LOCAL_MACHINE's enable flags")
      ->check(CLI::ExistingFile);
  app.add_option("--settings-file", options.settingsFile, "image-save settings file (seminfo.ini)");
  app.add_option("--reply-send-timeout-ms", options.replySendTimeoutMs,
                 "disconnect a client that takes no reply for this long (0: never)");
  app.add_option("--request-timeout-ms", options.requestTimeoutMs,
                 "disconnect a client whose started request is not whole after this long (0: never)")
      ->default_str(std::to_string(kDefaultRequestTimeoutMs));
  app.add_option("--idle-reclaim-ms", options.idleReclaimMs,
                 "with every slot busy, close a connection idle for longer than this for a new client (0: never)")
      ->default_str(std::to_string(kDefaultIdleReclaimMs));
  app.add_option("--keepalive-ms", options.keepAliveMs,
                 "silence after which TCP keepalive probes a client (0: no probes)")
      ->default_str(std::to_string(kDefaultKeepAliveMs));
  app.add_option("--max-per-address", options.maxPerAddress,
                 "connections one client address may hold at once (0: as many as there are slots)")
      ->check(CLI::Range(0, kClientSlotCount))
      ->default_str(std::to_string(kDefaultMaxPerAddress));
  app.add_option("--allow", options.allowedClients,
                 "serve only clients from this IPv4 address or network, A.B.C.D or A.B.C.D/BITS (repeatable; "
                 "default: every client)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--log-manager", options.logManager, "log the messages exchanged with the manager application");
}

void AddSimulatorOptions(CLI::App& app, SimulatorOptions& simulator) {
  const char* group = "Simulated instrument";
  app.add_option("--instrument-type", simulator.instrumentType, "instrument type the simulator reports")
      ->group(group);
  app.add_option("--time-scale", simulator.timeScale,
                 "factor on the simulator's durations (0: everything completes at once)")
      ->check(CLI::NonNegativeNumber)
      ->group(group);
  app.add_option("--seed", simulator.seed, "seed of the simulator's random numbers")->group(group);
  app.add_option("--refuse", simulator.refusedOperations, "make a control-library operation fail (repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->group(group);
  app.add_option_function<std::vector<std::string>>(
         "--pin",
         [&simulator](const std::vector<std::string>& values) {
           for (const std::string& value : values) {
             const std::size_t equals = value.find('=');
             simulator.pins.emplace_back(value.substr(0, equals), value.substr(equals + 1));
           }
         },
         "pin a reading to a value, NAME=VALUE (repeatable)")
      ->check(CheckPin, "NAME=VALUE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->group(group);
  app.add_option("--image-folder", simulator.imageFolder, "folder for the simulator's saved images")->group(group);
  app.add_option("--scenario", simulator.scenarioFile,
                 "scenario file: faults and imperfections at times on the simulator's clock (sim/README.md)")
      ->group(group);
  app.add_option("--view-port", simulator.viewPort,
                 "serve a read-only live view of the instrument in the browser on this port (0: any free port; "
                 "default: no view)")
      ->group(group);
  app.add_option("--view-address", simulator.viewAddress,
                 "address the live view listens on (default: 127.0.0.1, this machine only)")
      ->group(group);
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, ServiceOptions* options) {
  CLI::App app("VESK: operates the scanning electron microscope for clients over TCP.", "vesk");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  AddServiceOptions(app, *options);
  AddSimulatorOptions(app, options->simulator);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }
  return -1;
}

}  // namespace vesk::app
