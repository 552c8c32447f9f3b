// The bridge for the simulated instrument: the manager stand-in's window is
// what sem_GetManagerHandle returns, and the command line's simulator
// options become the simulator's own. The simulator reads its capture
// settings from the same file the service writes them to.
#include <string>

#include "app/scope_link.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "sim/live_view.h"
#include "sim/simulator.h"

namespace vesk::app {

void AttachManagerWindow(SemWindow manager) { sim::SetManagerWindow(manager); }

int ApplySimulatorOptions(const SimulatorOptions& options) {
  sim::SimulatorOptions simulator;
  if (options.instrumentType) simulator.instrumentType = static_cast<std::int16_t>(*options.instrumentType);
  if (options.timeScale) simulator.timeScale = *options.timeScale;
  if (options.seed) simulator.seed = *options.seed;
  simulator.refusedOperations = options.refusedOperations;
  for (const auto& [name, value] : options.pins) simulator.pinnedResults.push_back(name + "=" + value);
  if (options.imageFolder) simulator.imageFolder = *options.imageFolder;
  if (options.scenarioFile) simulator.scenarioFile = *options.scenarioFile;
  simulator.settingsFile = plat::ImageSaveSettingsPath();
  std::string error;
  if (!sim::ApplySimulatorOptions(simulator, &error)) {
    plat::Platform().writeStandardError(("vesk: simulator: " + error + "\n").c_str());
    return 2;
  }
  if (!options.viewPort) {
    if (options.viewAddress) {
      plat::Platform().writeStandardError("Warning:--view-address without --view-port; no live view.\n");
    }
    return 0;
  }
  sim::LiveViewOptions view;
  view.port = *options.viewPort;
  if (options.viewAddress) view.address = *options.viewAddress;
  if (!sim::StartLiveView(view, &error)) {
    plat::Platform().writeStandardError(("vesk: --view-port: " + error + "\n").c_str());
    return 2;
  }
  // Where to point the browser; with port 0 the only way to learn it.
  plat::Platform().writeStandardError(
      ("vesk: live view on http://" + view.address + ":" + std::to_string(sim::LiveViewPort()) + "/\n").c_str());
  if (view.address.rfind("127.", 0) != 0 && view.address != "localhost") {
    plat::Platform().writeStandardError(("Warning:the live view listens on " + view.address +
                                         ", beyond this machine: anyone who reaches it can watch the instrument.\n")
                                            .c_str());
  }
  return 0;
}

void StopSimulatorView() { sim::StopLiveView(); }

}  // namespace vesk::app
