// The window layer on Windows: Win32 windows and the thread's own message
// queue. The layer's procedures are plain functions; Windows calls window
// and dialog procedures with its own calling convention, so one class
// procedure and one dialog procedure stand in between and pass every
// message on unchanged.
#include <windows.h>

#include <map>

#include "desktop/win/ui_internal.h"
#include "desktop/window.h"
#include "platform/platform.h"

namespace plat {
namespace {

// The layer's procedure of each registered class, by class atom; a window
// keeps its own in its first extra slot once it has been looked up.
Lock& ClassLock() {
  static Lock* lock = new Lock;  // never destroyed: windows may outlive static destruction
  return *lock;
}
std::map<ATOM, WindowProcedure> classProcedures;

constexpr int kProcedureSlot = 0;

HWND Native(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle HandleOf(HWND window) { return reinterpret_cast<WindowHandle>(window); }

WindowProcedure ProcedureOf(HWND window) {
  if (auto known = reinterpret_cast<WindowProcedure>(::GetWindowLongPtrA(window, kProcedureSlot))) return known;
  const auto atom = static_cast<ATOM>(::GetClassWord(window, GCW_ATOM));
  WindowProcedure procedure = nullptr;
  {
    LockGuard guard(ClassLock());
    const auto found = classProcedures.find(atom);
    if (found != classProcedures.end()) procedure = found->second;
  }
  if (procedure != nullptr) ::SetWindowLongPtrA(window, kProcedureSlot, reinterpret_cast<LONG_PTR>(procedure));
  return procedure;
}

LRESULT CALLBACK ClassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const WindowProcedure procedure = ProcedureOf(window);
  if (procedure == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
  return procedure(HandleOf(window), message, wParam, lParam);
}

// The layer's dialog procedure travels as the dialog's creation parameter
// and is kept in DWLP_USER; the dialog itself sees 0 there, as it was
// started with DialogBoxParamA(..., 0).
INT_PTR CALLBACK DialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return reinterpret_cast<DialogProcedure>(lParam)(HandleOf(dialog), message, wParam, 0);
  }
  const auto procedure = reinterpret_cast<DialogProcedure>(::GetWindowLongPtrA(dialog, DWLP_USER));
  if (procedure == nullptr) return FALSE;
  return procedure(HandleOf(dialog), message, wParam, lParam);
}

MSG NativeMessage(const WindowMessage& message) {
  MSG native{};
  native.hwnd = Native(message.window);
  native.message = message.message;
  native.wParam = message.wParam;
  native.lParam = message.lParam;
  native.time = ::GetMessageTime();
  const DWORD position = ::GetMessagePos();
  native.pt.x = static_cast<short>(LOWORD(position));
  native.pt.y = static_cast<short>(HIWORD(position));
  return native;
}

WindowMessage LayerMessage(const MSG& native) {
  return WindowMessage{HandleOf(native.hwnd), native.message, native.wParam, native.lParam};
}

}  // namespace

namespace win {
HINSTANCE ProgramInstance() { return ::GetModuleHandleA(nullptr); }
}  // namespace win

int RegisterWindowClass(const WindowClass& windowClass) {
  if (windowClass.name == nullptr || windowClass.procedure == nullptr) return 0;
  const HINSTANCE instance = win::ProgramInstance();
  WNDCLASSEXA native{};
  native.cbSize = sizeof native;
  native.style = windowClass.style;
  native.lpfnWndProc = ClassProcedure;
  native.cbWndExtra = sizeof(LONG_PTR);  // kProcedureSlot
  native.hInstance = instance;
  native.hIcon = windowClass.iconId != 0 ? ::LoadIconA(instance, MAKEINTRESOURCEA(windowClass.iconId)) : nullptr;
  native.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  native.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  native.lpszMenuName = windowClass.menuId != 0 ? MAKEINTRESOURCEA(windowClass.menuId) : nullptr;
  native.lpszClassName = windowClass.name;
  native.hIconSm =
      windowClass.smallIconId != 0 ? ::LoadIconA(instance, MAKEINTRESOURCEA(windowClass.smallIconId)) : nullptr;
  const ATOM atom = ::RegisterClassExA(&native);
  if (atom == 0) return 0;
  LockGuard guard(ClassLock());
  classProcedures[atom] = windowClass.procedure;
  return 1;
}

WindowHandle CreateTopLevelWindow(const char* className, const char* title) {
  return HandleOf(::CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                    nullptr, nullptr, win::ProgramInstance(), nullptr));
}

bool DestroyWindow(WindowHandle window) { return ::DestroyWindow(Native(window)) != FALSE; }

bool IsWindow(WindowHandle window) { return window != nullptr && ::IsWindow(Native(window)) != FALSE; }

WindowHandle FindWindowByClass(const char* className) {
  if (className == nullptr) return nullptr;
  return HandleOf(::FindWindowA(className, nullptr));
}

void HideWindow(WindowHandle window) {
  ::ShowWindow(Native(window), SW_HIDE);
  ::UpdateWindow(Native(window));
}

void SetWindowContext(WindowHandle window, void* context) {
  ::SetWindowLongPtrA(Native(window), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
}

void* WindowContext(WindowHandle window) {
  if (!IsWindow(window)) return nullptr;
  return reinterpret_cast<void*>(::GetWindowLongPtrA(Native(window), GWLP_USERDATA));
}

LResult SendWindowMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
  if (window == nullptr) return 0;  // never a broadcast
  return ::SendMessageA(Native(window), message, wParam, lParam);
}

bool PostWindowMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
  return ::PostMessageA(Native(window), message, wParam, lParam) != FALSE;
}

bool GetWindowMessage(WindowMessage* message) {
  MSG native{};
  const BOOL result = ::GetMessageA(&native, nullptr, 0, 0);
  if (result == -1) {  // no queue to read: treat as the end of the loop
    *message = WindowMessage{nullptr, kWmQuit, 0, 0};
    return false;
  }
  *message = LayerMessage(native);
  return result != 0;
}

bool SentMessageWaiting() { return (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }

bool PeekWindowMessage(WindowMessage* message) {
  MSG native{};
  if (::PeekMessageA(&native, nullptr, 0, 0, PM_REMOVE) == FALSE) return false;
  *message = LayerMessage(native);
  return true;
}

void TranslateWindowMessage(const WindowMessage& message) {
  const MSG native = NativeMessage(message);
  ::TranslateMessage(&native);
}

LResult DispatchWindowMessage(const WindowMessage& message) {
  const MSG native = NativeMessage(message);
  return ::DispatchMessageA(&native);
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

LResult DefaultWindowProcedure(WindowHandle window, MessageId message, WParam wParam, LParam lParam) {
  return ::DefWindowProcA(Native(window), message, wParam, lParam);
}

LResult RunModalDialog(WindowHandle owner, int dialogId, DialogProcedure procedure) {
  if (procedure == nullptr) return -1;
  return ::DialogBoxParamA(win::ProgramInstance(), MAKEINTRESOURCEA(dialogId), Native(owner), DialogTrampoline,
                           reinterpret_cast<LPARAM>(procedure));
}

bool EndDialog(WindowHandle dialog, LResult result) { return ::EndDialog(Native(dialog), result) != FALSE; }

}  // namespace plat
