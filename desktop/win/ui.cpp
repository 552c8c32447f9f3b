// Resources, menus, painting and the notification area on Windows. The
// resources are the executable's own (app/vesk.rc), so InstallResources has
// nothing to do, and nothing is recorded in the headless display record.
#include <windows.h>

#include <shellapi.h>

#include "desktop/ui.h"
#include "desktop/win/ui_internal.h"

namespace plat {
namespace {

HWND Native(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

void InstallResources(const ResourceSection*) {}

int LoadStringResource(int id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  return ::LoadStringA(win::ProgramInstance(), static_cast<UINT>(id), buffer, size);
}

AcceleratorTable LoadAcceleratorTable(int id) {
  return ::LoadAcceleratorsA(win::ProgramInstance(), MAKEINTRESOURCEA(id));
}

bool TranslateAcceleratorMessage(WindowHandle window, AcceleratorTable table, const WindowMessage& message) {
  if (table == nullptr || window == nullptr) return false;
  MSG native{};
  native.hwnd = Native(message.window);
  native.message = message.message;
  native.wParam = message.wParam;
  native.lParam = message.lParam;
  return ::TranslateAcceleratorA(Native(window), static_cast<HACCEL>(const_cast<void*>(table)), &native) != 0;
}

Point CursorPosition() {
  POINT at{};
  if (::GetCursorPos(&at) == FALSE) return Point{0, 0};
  return Point{at.x, at.y};
}

bool TrackContextMenu(WindowHandle owner, int menuId, int popupIndex, Point at) {
  const HMENU menu = ::LoadMenuA(win::ProgramInstance(), MAKEINTRESOURCEA(menuId));
  if (menu == nullptr) return false;
  const HMENU popup = ::GetSubMenu(menu, popupIndex);
  if (popup == nullptr) {
    ::DestroyMenu(menu);
    return false;
  }
  // Without the foreground the menu would not close when the user clicks
  // elsewhere.
  ::SetForegroundWindow(Native(owner));
  ::TrackPopupMenu(popup, 0, at.x, at.y, 0, Native(owner), nullptr);
  ::DestroyMenu(menu);
  return true;
}

void PaintCentredText(WindowHandle window, const char* text) {
  PAINTSTRUCT paint{};
  const HDC context = ::BeginPaint(Native(window), &paint);
  RECT client{};
  ::GetClientRect(Native(window), &client);
  if (context != nullptr && text != nullptr) ::DrawTextA(context, text, -1, &client, DT_CENTER);
  ::EndPaint(Native(window), &paint);
}

void DeleteNotifyIcon(WindowHandle window, int iconId) {
  NOTIFYICONDATAA icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = Native(window);
  icon.uID = static_cast<UINT>(iconId);
  ::Shell_NotifyIconA(NIM_DELETE, &icon);
}

HeadlessDisplay HeadlessDisplayRecord() { return HeadlessDisplay{}; }

void ResetHeadlessDisplayRecord() {}

}  // namespace plat
