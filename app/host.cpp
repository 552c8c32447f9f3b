#include "app/host.h"

#include <atomic>
#include <string>

#include "app/resources.h"
#include "desktop/ui.h"
#include "desktop/window.h"
#include "platform/instance.h"
#include "platform/registry.h"
#include "server/diagnostics.h"

namespace vesk::host {
namespace {

constexpr int kTextSize = 100;

// The running service's window, for RequestLeave on other threads.
std::atomic<plat::WindowHandle> runningWindow{nullptr};
std::atomic<bool> leaveRequested{false};

void PostLeaveIfRequested() {
  const plat::WindowHandle window = runningWindow.load();
  if (window != nullptr && leaveRequested.exchange(false)) {
    plat::PostWindowMessage(window, kManagerRequest, kRequestQuit, 0);
  }
}

plat::WindowHandle CreateHostWindow(const HostOptions& options) {
  char title[kTextSize] = {};
  char className[kTextSize] = {};
  plat::LoadStringResource(IDS_APP_TITLE, title, kTextSize);
  plat::LoadStringResource(IDC_VESK, className, kTextSize);
  // The result is not examined: a class left registered by an earlier run
  // in the same process serves as well.
  plat::RegisterWindowClass(plat::WindowClass{className, HostWindowProc, plat::kClassRedrawOnResize, IDI_VESK,
                                              IDI_SMALL, IDC_VESK});
  ConfigureHostWindow(options.services, options.port);
  return plat::CreateTopLevelWindow(className, title);
}

int RunMessageLoop() {
  const plat::AcceleratorTable accelerators = plat::LoadAcceleratorTable(IDC_VESK);
  plat::WindowMessage message;
  while (plat::GetWindowMessage(&message)) {
    if (plat::TranslateAcceleratorMessage(message.window, accelerators, message)) continue;
    plat::TranslateWindowMessage(message);
    plat::DispatchWindowMessage(message);
  }
  return static_cast<int>(message.wParam);
}

// Adds the registry's allow-list to the server's. False (reported) when an
// entry is malformed: serving everyone instead would be the wrong default.
bool AddRegistryAllowList(AllowList& list) {
  plat::RegistryKey key = nullptr;
  if (plat::OpenLocalMachineKey(kVeskSettingsKey, &key) != plat::kRegistryOk) return true;
  char text[4096] = {};
  std::uint32_t size = sizeof text - 1;
  const long status = plat::QueryRegistryValue(key, kAllowedClientsName, text, &size);
  plat::CloseRegistryKey(key);
  if (status == plat::kRegistryNotFound) return true;
  std::string bad = "(too long)";
  if (status == plat::kRegistryOk && list.AddAll(text, &bad)) return true;
  ReportBoth("error in %s: '%s' is not an IPv4 address or network (A.B.C.D or A.B.C.D/BITS).\n",
             kAllowedClientsName, bad.c_str());
  return false;
}

// Takes the registry's cap on connections per address, if it has one. False
// (reported) when the value is no number of slots.
bool ApplyRegistryConnectionCap(CommandServer& server) {
  plat::RegistryKey key = nullptr;
  if (plat::OpenLocalMachineKey(kVeskSettingsKey, &key) != plat::kRegistryOk) return true;
  std::uint8_t data[8] = {};
  std::uint32_t size = sizeof data;
  const long status = plat::QueryRegistryValue(key, kMaxPerAddressName, data, &size);
  plat::CloseRegistryKey(key);
  if (status == plat::kRegistryNotFound) return true;
  const std::uint32_t cap = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                            static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  if (status == plat::kRegistryOk && size == 4 && cap <= static_cast<std::uint32_t>(kClientSlotCount)) {
    server.SetMaxPerAddress(static_cast<int>(cap));
    return true;
  }
  ReportBoth("error in %s: a DWORD from 0 to %d expected.\n", kMaxPerAddressName, kClientSlotCount);
  return false;
}

}  // namespace

int RunHost(const HostOptions& options) {
  plat::InstallResources(&resources::kSection);
  switch (plat::AcquireInstanceLock(options.instanceName)) {
    case plat::InstanceLockResult::kHeldElsewhere:
      plat::ReportInstanceHeldElsewhere(options.instanceName);
      return 0;  // another instance runs; leave it alone
    case plat::InstanceLockResult::kUnavailable:
      ReportToStandardError("Warning:Can't set up the instance lock; a second instance would not be noticed.\n");
      break;
    case plat::InstanceLockResult::kAcquired:
      break;
  }

  if (options.prepareSoleInstance != nullptr) {
    if (const int code = options.prepareSoleInstance(options.prepareContext); code != 0) return code;
  }
  if (options.services == nullptr && !AddRegistryAllowList(TheCommandServer().AllowedClients())) return 2;
  if (options.services == nullptr && !ApplyRegistryConnectionCap(TheCommandServer())) return 2;

  const plat::WindowHandle window = CreateHostWindow(options);
  if (window == nullptr) return 0;  // refused: neither enable flag is set
  plat::HideWindow(window);
  runningWindow.store(window);
  PostLeaveIfRequested();
  const int exitCode = RunMessageLoop();
  runningWindow.store(nullptr);
  leaveRequested.store(false);
  // A quit request only posts the destruction message, so the window can
  // outlive the loop; destroy it, so that nothing sent to it later waits
  // for a loop that has ended. Its leaving steps have run and do not repeat.
  plat::DestroyWindow(window);
  return exitCode;
}

void RequestLeave() {
  leaveRequested.store(true);
  PostLeaveIfRequested();
}

}  // namespace vesk::host
