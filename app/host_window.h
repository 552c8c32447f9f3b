// The service's hidden window: its procedure does the service's start-up
// while the window is being created, then waits for the manager
// application's request to quit, the menu commands and painting; its
// destruction is the service's orderly end.
#pragma once

#include <cstdint>

#include "desktop/window.h"

namespace vesk::host {

// Messages exchanged with the microscope's manager application.
inline constexpr plat::MessageId kManagerNotice = 1233;   // sent to the manager
inline constexpr plat::WParam kNoticeStarted = 100;       // 1233: the service has started
inline constexpr plat::WParam kNoticeLeaving = 101;       // 1233: the service is leaving
inline constexpr plat::LParam kNoticeSender = 2;          // lParam of both notices
inline constexpr plat::MessageId kManagerRequest = 1224;  // received from the manager
inline constexpr plat::WParam kRequestQuit = 2;           // 1224: quit
// The notification-icon message, for icon 1; lParam is the mouse message.
inline constexpr plat::MessageId kNotifyIconMessage = 32868;  // WM_APP + 100
inline constexpr plat::WParam kNotifyIconId = 1;
inline constexpr plat::LParam kNotifyRightButtonUp = plat::kWmRButtonUp;  // 517

// Registry values of the two enable flags, under HKEY_LOCAL_MACHINE.
inline constexpr char kVeskSettingsKey[] = "SOFTWARE\\ZELK\\Vesk\\Settings";
inline constexpr char kVeskFlagName[] = "EnableVesk";
// REG_SZ under kVeskSettingsKey: the client addresses and networks that may
// connect, separated by spaces, commas or semicolons; absent: every client.
inline constexpr char kAllowedClientsName[] = "AllowedClients";
// REG_DWORD under kVeskSettingsKey: connections one client address may hold
// at once (0: no limit); absent: the default.
inline constexpr char kMaxPerAddressName[] = "MaxPerAddress";
inline constexpr char kFenkSettingsKey[] = "SOFTWARE\\ZELK\\Fenk\\Settings";
inline constexpr char kFenkFlagName[] = "EnableFenk";

// What the window does to the rest of the service. The default set drives
// the one CommandServer; tests install their own to watch the steps.
struct HostServices {
  // Starts the listener thread on the port; false when no thread started.
  bool (*startListener)(std::uint16_t port);
  // Ends every connection and the listener, and waits for their threads.
  void (*stopConnections)();
  void (*initialiseDispatchLock)();
  void (*deleteDispatchLock)();
  // Says once, at the start, when the image-save settings cannot be
  // written (their folder is missing or read-only), which every capture
  // and ISAV would otherwise find out silently.
  void (*checkSettingsFolder)();
};
const HostServices& DefaultHostServices();

// Installs the services and the port for the next window. Call before the
// window is created (on the thread that will own it); nullptr restores the
// defaults.
void ConfigureHostWindow(const HostServices* services, std::uint16_t port);

plat::LResult HostWindowProc(plat::WindowHandle window, plat::MessageId message, plat::WParam wParam,
                             plat::LParam lParam);
plat::LResult AboutDialogProc(plat::WindowHandle dialog, plat::MessageId message, plat::WParam wParam,
                              plat::LParam lParam);

// Where the window stands: for tests and diagnostics.
enum class HostPhase { kNotStarted, kRefused, kRunning, kLeft };
struct HostState {
  HostPhase phase;
  plat::WindowHandle managerWindow;
  std::int16_t enableVesk;
  std::int16_t enableFenk;
  bool listenerStarted;
};
HostState CurrentHostState();

}  // namespace vesk::host
