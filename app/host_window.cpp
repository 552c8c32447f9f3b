// The host window's procedure: one row per message, one row per command.
#include "app/host_window.h"

#include "app/resources.h"
#include <string>

#include "desktop/ui.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "protocol/command_table.h"
#include "scope/sem.h"
#include "server/command_server.h"
#include "server/diagnostics.h"

namespace vesk::host {
namespace {

bool StartTheListener(std::uint16_t port) { return TheCommandServer().StartListener(port); }
void StopTheConnections() { TheCommandServer().Stop(); }
void InitialiseTheDispatchLock() { (void)DispatchLock(); }
// The lock is never destroyed (see DispatchLock); once the connections are
// stopped nothing uses it any more, so there is nothing left to delete.
void DeleteTheDispatchLock() {}

void CheckTheSettingsFolder() {
  const char* file = plat::ImageSaveSettingsPath();
  const std::string folder = plat::FolderOf(file);
  switch (plat::CheckSettingsFolder(file)) {
    case plat::SettingsFolder::kMissing:
      ReportBoth("Warning:Settings folder %s does not exist: image-save settings cannot be written.\n", folder.c_str());
      break;
    case plat::SettingsFolder::kNotWritable:
      ReportBoth("Warning:Settings folder %s cannot be written: image-save settings cannot be written.\n",
                 folder.c_str());
      break;
    case plat::SettingsFolder::kWritable:
      break;
  }
}

constexpr HostServices kDefaultServices = {StartTheListener, StopTheConnections, InitialiseTheDispatchLock,
                                           DeleteTheDispatchLock, CheckTheSettingsFolder};

// Only the window's own thread touches this.
struct Host {
  const HostServices* services = &kDefaultServices;
  std::uint16_t port = kDefaultPort;
  HostState state = {HostPhase::kNotStarted, nullptr, 0, 0, false};
};
Host host;

// The flags keep the low 16 bits of the registry value, as a signed number.
std::int16_t LowSigned16(std::int32_t value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu));
}

// Start-up, while the window is being created. -1 refuses the creation.
plat::LResult OnCreate(plat::WindowHandle window, plat::WParam, plat::LParam) {
  HostState& state = host.state;
  state.managerWindow = static_cast<plat::WindowHandle>(sem_GetManagerHandle());
  host.services->initialiseDispatchLock();
  sem_SetVeskHandle(window);
  sem_SetWindowHandle(window, 1);
  state.enableVesk = LowSigned16(plat::ReadEnableFlag(kVeskSettingsKey, kVeskFlagName));
  state.enableFenk = LowSigned16(plat::ReadEnableFlag(kFenkSettingsKey, kFenkFlagName));
  SetEnableFenkFlag(state.enableFenk);
  if (state.enableVesk != 1 && state.enableFenk != 1) {
    state.phase = HostPhase::kRefused;
    return -1;
  }
  host.services->checkSettingsFolder();
  state.listenerStarted = host.services->startListener(host.port);
  if (!state.listenerStarted) ReportBoth("error at CreateThread(): no listener, no connection will be accepted.\n");
  state.phase = HostPhase::kRunning;
  plat::SendWindowMessage(state.managerWindow, kManagerNotice, kNoticeStarted, kNoticeSender);
  return 0;
}

// The orderly end. Runs once, and only for a service that started: a
// refused creation and a second destruction message do nothing.
plat::LResult OnDestroy(plat::WindowHandle window, plat::WParam, plat::LParam) {
  HostState& state = host.state;
  if (state.phase != HostPhase::kRunning) return 0;
  state.phase = HostPhase::kLeft;
  plat::SendWindowMessage(state.managerWindow, kManagerNotice, kNoticeLeaving, kNoticeSender);
  plat::DeleteNotifyIcon(window, static_cast<int>(kNotifyIconId));
  // No connection thread may use DispatchLock once it is deleted: stop them
  // all first.
  host.services->stopConnections();
  host.services->deleteDispatchLock();
  plat::PostQuitMessage(0);
  return 0;
}

plat::LResult OnPaint(plat::WindowHandle window, plat::WParam, plat::LParam) {
  char text[100] = {};
  plat::LoadStringResource(IDS_HELLO, text, sizeof text);
  plat::PaintCentredText(window, text);
  return 0;
}

// Log-off and shut-down: a program with windows gets no console event for
// them, and may be ended as soon as this returns, so the leaving steps run
// now rather than after a posted destruction message.
plat::LResult OnEndSession(plat::WindowHandle window, plat::WParam wParam, plat::LParam) {
  if (wParam != 0) OnDestroy(window, 0, 0);
  return 0;
}

// A minimised window refuses to be restored.
plat::LResult OnQueryOpen(plat::WindowHandle, plat::WParam, plat::LParam) { return 0; }

void ShowAboutBox(plat::WindowHandle window) { plat::RunModalDialog(window, IDD_ABOUTBOX, AboutDialogProc); }
void EndService(plat::WindowHandle window) { plat::DestroyWindow(window); }

struct CommandRow {
  int id;
  void (*run)(plat::WindowHandle window);
};
constexpr CommandRow kCommands[] = {
    {IDM_ABOUT, ShowAboutBox},
    {IDM_EXIT, EndService},
};

plat::LResult OnCommand(plat::WindowHandle window, plat::WParam wParam, plat::LParam lParam) {
  for (const CommandRow& row : kCommands) {
    if (row.id == plat::LowWord(wParam)) {
      row.run(window);
      return 0;
    }
  }
  return plat::DefaultWindowProcedure(window, plat::kWmCommand, wParam, lParam);
}

// The manager's quit request posts the destruction message to this window.
plat::LResult OnManagerRequest(plat::WindowHandle window, plat::WParam wParam, plat::LParam) {
  if (wParam != kRequestQuit) return 0;
  plat::PostWindowMessage(window, plat::kWmDestroy, 0, 0);
  return 1;
}

plat::LResult OnNotifyIcon(plat::WindowHandle window, plat::WParam wParam, plat::LParam lParam) {
  if (wParam != kNotifyIconId || lParam != kNotifyRightButtonUp) return 0;
  const plat::Point at = plat::CursorPosition();
  plat::TrackContextMenu(window, IDR_CONTEXT_MENU, 0, at);
  return 0;
}

struct MessageRow {
  plat::MessageId message;
  plat::LResult (*handle)(plat::WindowHandle window, plat::WParam wParam, plat::LParam lParam);
};
constexpr MessageRow kMessages[] = {
    {plat::kWmCreate, OnCreate},
    {plat::kWmDestroy, OnDestroy},
    {plat::kWmPaint, OnPaint},
    {plat::kWmQueryOpen, OnQueryOpen},
    {plat::kWmEndSession, OnEndSession},
    {plat::kWmCommand, OnCommand},
    {kManagerRequest, OnManagerRequest},
    {kNotifyIconMessage, OnNotifyIcon},
};

}  // namespace

const HostServices& DefaultHostServices() { return kDefaultServices; }

void ConfigureHostWindow(const HostServices* services, std::uint16_t port) {
  host.services = services != nullptr ? services : &kDefaultServices;
  host.port = port;
  host.state = HostState{HostPhase::kNotStarted, nullptr, 0, 0, false};
}

plat::LResult HostWindowProc(plat::WindowHandle window, plat::MessageId message, plat::WParam wParam,
                             plat::LParam lParam) {
  for (const MessageRow& row : kMessages) {
    if (row.message == message) return row.handle(window, wParam, lParam);
  }
  return plat::DefaultWindowProcedure(window, message, wParam, lParam);
}

plat::LResult AboutDialogProc(plat::WindowHandle dialog, plat::MessageId message, plat::WParam wParam, plat::LParam) {
  if (message == plat::kWmInitDialog) return 1;  // the focus goes to the default button
  if (message != plat::kWmCommand) return 0;
  const int id = plat::LowWord(wParam);
  if (id != plat::kIdOk && id != plat::kIdCancel) return 0;
  plat::EndDialog(dialog, id);
  return 1;
}

HostState CurrentHostState() { return host.state; }

}  // namespace vesk::host
