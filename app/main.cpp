// The vesk program: the service with the manager application's stand-in
// beside it, configured from the command line. On the instrument's control
// PC (the Windows build with the maker's TRELL32.dll) it is the service
// alone, beside the real manager application, and takes no options.
#if defined(_WIN32)
#include <windows.h>

#include <cstdlib>  // __argc, __argv
#endif

#include "app/host.h"
#include "platform/platform.h"
#include "platform/stop_requests.h"

#if !defined(VESK_WITH_TRELL32)
#include <string>

#include "app/options.h"
#include "app/resources.h"
#include "app/scope_link.h"
#include "manager/manager_stand_in.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "server/command_server.h"

namespace vesk::app {
namespace {

void AskServiceToQuit(void* standIn) { static_cast<manager::ManagerStandIn*>(standIn)->RequestServiceQuit(); }

void ReportError(const std::string& text) { plat::Platform().writeStandardError(("vesk: " + text + "\n").c_str()); }

// Everything that must be in place before the service's window exists.
int Configure(const ServiceOptions& options) {
  if (const char* problem = nullptr; !plat::UseRegistryFile(options.registryFile.c_str(), &problem)) {
    ReportError("registry file '" + options.registryFile + "' " + problem);
    return 2;
  }
  if (options.simulator.viewPort && *options.simulator.viewPort == options.port) {
    // Whichever took the port first, the other would wait for it for ever.
    ReportError("--view-port " + std::to_string(options.port) + " is the service's own port (--port)");
    return 2;
  }
  if (!options.settingsFile.empty()) plat::SetImageSaveSettingsPath(options.settingsFile.c_str());
  CommandServer& server = TheCommandServer();
  if (options.replySendTimeoutMs) server.SetReplySendTimeout(*options.replySendTimeoutMs);
  if (options.requestTimeoutMs) server.SetRequestTimeout(*options.requestTimeoutMs);
  if (options.idleReclaimMs) server.SetIdleReclaim(*options.idleReclaimMs);
  if (options.keepAliveMs) server.SetKeepAlive(*options.keepAliveMs);
  if (options.maxPerAddress) server.PinMaxPerAddress(*options.maxPerAddress);
  for (const std::string& entry : options.allowedClients) {
    if (!server.AllowedClients().Add(entry)) {
      ReportError("--allow " + entry + ": not an IPv4 address or network (A.B.C.D or A.B.C.D/BITS)");
      return 2;
    }
  }
  return 0;
}

// Once no other instance runs: the instrument starts, and with it the
// removal of temporaries left by writes that a kill cut short, which in a
// second instance would pull them from under the first one's writes.
int PrepareInstrument(const void* context) {
  const auto& options = *static_cast<const ServiceOptions*>(context);
  plat::RemoveProfileLeftovers(plat::ImageSaveSettingsPath());
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
    hostOptions.prepareSoleInstance = PrepareInstrument;
    hostOptions.prepareContext = &options;
    exitCode = host::RunHost(hostOptions);
  }
  StopSimulatorView();
  plat::StopWatchingStopRequests();
  standIn.Stop();
  return exitCode;
}

}  // namespace
}  // namespace vesk::app

namespace vesk::app {
int Main(int argc, char** argv) {
  ServiceOptions options;
  if (const int code = ParseCommandLine(argc, argv, &options); code >= 0) return code;
  return RunService(options);
}
}  // namespace vesk::app

#endif  // !VESK_WITH_TRELL32

#if defined(_WIN32)
// The entry point after the runtime's start-up. A windows program, so that
// starting it opens no console window; started from a console, its
// diagnostic lines go to that console all the same.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  plat::UseParentConsole();
#if defined(VESK_WITH_TRELL32)
  // Started from a command prompt: Ctrl+C, Ctrl+Break and closing the
  // console leave as the manager's quit request does.
  if (!plat::WatchStopRequests([](void*) { vesk::host::RequestLeave(); }, nullptr)) {
    plat::Platform().writeStandardError("vesk: cannot watch for Ctrl+C and a closed console\n");
  }
  const int exitCode = vesk::host::RunHost(vesk::host::HostOptions{});
  plat::StopWatchingStopRequests();
  return exitCode;
#else
  return vesk::app::Main(__argc, __argv);
#endif
}
#else
int main(int argc, char** argv) { return vesk::app::Main(argc, argv); }
#endif
