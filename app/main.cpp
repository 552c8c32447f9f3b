// The vesk program: the service with the manager application's stand-in
// beside it, configured from the command line.
#include <string>

#include "app/host.h"
#include "app/options.h"
#include "app/resources.h"
#include "app/scope_link.h"
#include "manager/manager_stand_in.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/stop_requests.h"
#include "server/command_server.h"

namespace vesk::app {
namespace {

void AskServiceToQuit(void* standIn) { static_cast<manager::ManagerStandIn*>(standIn)->RequestServiceQuit(); }

void ReportError(const std::string& text) { plat::Platform().writeStandardError(("vesk: " + text + "\n").c_str()); }

// Everything that must be in place before the service's window exists.
int Configure(const ServiceOptions& options) {
  if (!plat::UseRegistryFile(options.registryFile.c_str())) {
    ReportError("'" + options.registryFile + "' is not a registry export file");
    return 2;
  }
  if (!options.settingsFile.empty()) plat::SetImageSaveSettingsPath(options.settingsFile.c_str());
  if (options.replySendTimeoutMs) TheCommandServer().SetReplySendTimeout(*options.replySendTimeoutMs);
  return ApplySimulatorOptions(options.simulator);
}

int RunService(const ServiceOptions& options) {
  manager::ManagerStandIn standIn(manager::StandInOptions{options.logManager, VESK_TEXT_CLASS});
  // Ctrl+C and kill reach the stand-in, which asks the service to quit the
  // way the manager application does; the service then leaves in order.
  // Set up before any thread starts, so that no other thread takes them.
  if (!plat::WatchStopRequests(AskServiceToQuit, &standIn)) ReportError("cannot watch for Ctrl+C and kill");
  int exitCode = Configure(options);
  if (exitCode == 0) {
    if (!standIn.Start()) ReportError("the manager stand-in did not start");
    AttachManagerWindow(standIn.Window());
    host::HostOptions hostOptions;
    hostOptions.port = options.port;
    exitCode = host::RunHost(hostOptions);
  }
  plat::StopWatchingStopRequests();
  standIn.Stop();
  return exitCode;
}

}  // namespace
}  // namespace vesk::app

int main(int argc, char** argv) {
  vesk::app::ServiceOptions options;
  if (const int code = vesk::app::ParseCommandLine(argc, argv, &options); code >= 0) return code;
  return vesk::app::RunService(options);
}
