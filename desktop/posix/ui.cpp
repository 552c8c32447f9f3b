// Resources, menus, painting and the notification area on POSIX. There is
// no display: resources come from the tables the program installs, and what
// would have been shown is kept in the headless display record.
#include <atomic>
#include <cstring>
#include <mutex>

#include "desktop/posix/ui_internal.h"
#include "desktop/ui.h"

namespace plat {
namespace {

std::atomic<const ResourceSection*> installed{nullptr};

std::mutex recordMutex;
HeadlessDisplay record{};

const ResourceSection* Section() { return installed.load(std::memory_order_acquire); }

const MenuResource* FindMenu(int id) {
  const ResourceSection* section = Section();
  if (section == nullptr) return nullptr;
  for (const MenuResource& menu : section->menus) {
    if (menu.id == id) return &menu;
  }
  return nullptr;
}

}  // namespace

namespace posix {

const DialogResource* FindDialogResource(int id) {
  const ResourceSection* section = Section();
  if (section == nullptr) return nullptr;
  for (const DialogResource& dialog : section->dialogs) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

void RecordDialogRun(int id) {
  std::lock_guard<std::mutex> guard(recordMutex);
  ++record.dialogsRun;
  record.dialogId = id;
}

}  // namespace posix

void InstallResources(const ResourceSection* section) { installed.store(section, std::memory_order_release); }

int LoadStringResource(int id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  const ResourceSection* section = Section();
  if (section == nullptr) return 0;
  for (const StringResource& entry : section->strings) {
    if (entry.id != id) continue;
    std::size_t length = std::strlen(entry.text);
    if (length > static_cast<std::size_t>(size - 1)) length = static_cast<std::size_t>(size - 1);
    std::memcpy(buffer, entry.text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  return 0;
}

AcceleratorTable LoadAcceleratorTable(int id) {
  const ResourceSection* section = Section();
  if (section == nullptr) return nullptr;
  for (const AcceleratorResource& table : section->accelerators) {
    if (table.id == id) return &table;
  }
  return nullptr;
}

bool TranslateAcceleratorMessage(WindowHandle window, AcceleratorTable table, const WindowMessage& message) {
  if (table == nullptr || window == nullptr) return false;
  if (message.message != kWmChar && message.message != kWmSysChar) return false;
  const bool alt = message.message == kWmSysChar;
  for (const AcceleratorEntry& entry : static_cast<const AcceleratorResource*>(table)->entries) {
    if ((entry.flags & kAcceleratorVirtualKey) != 0) continue;  // no key strokes here, only characters
    if (((entry.flags & kAcceleratorAlt) != 0) != alt || entry.key != message.wParam) continue;
    SendWindowMessage(window, kWmCommand, MakeWParam(entry.command, 1), 0);
    return true;
  }
  return false;
}

Point CursorPosition() { return Point{0, 0}; }

bool TrackContextMenu(WindowHandle owner, int menuId, int popupIndex, Point at) {
  const MenuResource* menu = FindMenu(menuId);
  if (menu == nullptr || popupIndex < 0 || static_cast<std::size_t>(popupIndex) >= menu->popups.size()) return false;
  std::lock_guard<std::mutex> guard(recordMutex);
  ++record.menusTracked;
  record.menuOwner = owner;
  record.menuId = menuId;
  record.popupIndex = popupIndex;
  record.popupText = menu->popups[static_cast<std::size_t>(popupIndex)].text;
  record.menuAt = at;
  return true;
}

void PaintCentredText(WindowHandle, const char* text) {
  std::lock_guard<std::mutex> guard(recordMutex);
  ++record.paints;
  std::strncpy(record.paintedText, text != nullptr ? text : "", sizeof record.paintedText - 1);
  record.paintedText[sizeof record.paintedText - 1] = '\0';
}

void DeleteNotifyIcon(WindowHandle, int) {
  std::lock_guard<std::mutex> guard(recordMutex);
  ++record.notifyIconsDeleted;
}

HeadlessDisplay HeadlessDisplayRecord() {
  std::lock_guard<std::mutex> guard(recordMutex);
  return record;
}

void ResetHeadlessDisplayRecord() {
  std::lock_guard<std::mutex> guard(recordMutex);
  record = HeadlessDisplay{};
}

}  // namespace plat
