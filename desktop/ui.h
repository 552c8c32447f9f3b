// Resources (strings, menus, accelerators, dialogs), painting, the context
// menu and the notification area. On Windows the resources live in the
// executable and the Load functions read them from there; a platform without
// resource sections reads the tables that the program installs at start.
#pragma once

#include <cstdint>
#include <span>

#include "desktop/window.h"

namespace plat {

// STRINGTABLE entry.
struct StringResource {
  int id;
  const char* text;
};

// ACCEL. Without kAcceleratorVirtualKey the key is a character code.
inline constexpr std::uint8_t kAcceleratorVirtualKey = 0x01;  // FVIRTKEY
inline constexpr std::uint8_t kAcceleratorAlt = 0x10;         // FALT
struct AcceleratorEntry {
  std::uint8_t flags;
  std::uint16_t key;
  std::uint16_t command;
};
struct AcceleratorResource {
  int id;
  std::span<const AcceleratorEntry> entries;
};

// MENU: a bar of popups, each with command items.
struct MenuItem {
  const char* text;
  int command;
};
struct MenuPopup {
  const char* text;
  std::span<const MenuItem> items;
};
struct MenuResource {
  int id;
  std::span<const MenuPopup> popups;
};

// DIALOG controls, in dialog units.
enum class ControlKind { kIcon, kStaticText, kDefaultPushButton, kPushButton };
struct DialogControl {
  ControlKind kind;
  const char* text;  // nullptr for an icon
  int imageId;       // the icon's resource id; 0 otherwise
  int id;
  int x, y, width, height;
};

// DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
inline constexpr std::uint32_t kModalDialogStyle = 0x80C80080u;

struct DialogResource {
  int id;
  const char* caption;
  int x, y, width, height;
  std::uint32_t style;
  const char* fontName;
  int fontPoints;
  std::span<const DialogControl> controls;
};

struct ResourceSection {
  std::uint16_t language;  // e.g. 0x0411, Japanese
  std::span<const StringResource> strings;
  std::span<const MenuResource> menus;
  std::span<const AcceleratorResource> accelerators;
  std::span<const DialogResource> dialogs;
};

// The program's resources where the executable carries none (on Windows
// this does nothing). Call once at start, before any Load function.
void InstallResources(const ResourceSection* section);

// LoadStringA: copies the string, cut to size - 1 characters and
// terminated; returns the characters copied, 0 when there is no such string.
int LoadStringResource(int id, char* buffer, int size);

// LoadAcceleratorsA: nullptr when there is no such table.
using AcceleratorTable = const void*;  // HACCEL
AcceleratorTable LoadAcceleratorTable(int id);

// TranslateAcceleratorA: a key stroke of the table becomes kWmCommand with
// the entry's command (high word 1) sent to window; true when it did.
bool TranslateAcceleratorMessage(WindowHandle window, AcceleratorTable table, const WindowMessage& message);

struct Point {
  int x;
  int y;
};

// GetCursorPos; (0, 0) where there is no pointer.
Point CursorPosition();

// LoadMenuA(menuId), GetSubMenu(popupIndex), SetForegroundWindow(owner),
// TrackPopupMenu(popup, 0, at.x, at.y, 0, owner, nullptr): a chosen item
// reaches the owner as kWmCommand. False when the menu or popup is missing.
bool TrackContextMenu(WindowHandle owner, int menuId, int popupIndex, Point at);

// BeginPaint, GetClientRect, DrawTextA(text, DT_CENTER) on the top line of
// the client area, EndPaint.
void PaintCentredText(WindowHandle window, const char* text);

// Shell_NotifyIconA(NIM_DELETE) for icon iconId of window.
void DeleteNotifyIcon(WindowHandle window, int iconId);

// What a platform without a display would have shown: for tests and tools.
// On Windows every field stays zero.
struct HeadlessDisplay {
  int menusTracked;
  WindowHandle menuOwner;
  int menuId;
  int popupIndex;
  const char* popupText;
  Point menuAt;
  int paints;
  char paintedText[128];  // a copy, cut to fit
  int dialogsRun;
  int dialogId;
  int notifyIconsDeleted;
};
HeadlessDisplay HeadlessDisplayRecord();
void ResetHeadlessDisplayRecord();

}  // namespace plat
