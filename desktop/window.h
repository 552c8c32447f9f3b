// Windows, window messages and the message loop: the part of the Windows
// user interface that the service is built on. Every name maps onto one
// Win32 function or type (given beside it); a name differs from Win32 only
// where windows.h defines a macro of the same name (SendMessage and so on).
//
// A window belongs to the thread that created it: its procedure runs only
// on that thread, inside that thread's GetWindowMessage, DispatchWindowMessage
// or SendWindowMessage. Handles are tokens; a destroyed window's handle is
// never reused, and every call on it fails harmlessly.
#pragma once

#include <cstdint>

namespace plat {

struct WindowObject;                   // never defined: a handle is a token
using WindowHandle = WindowObject*;    // HWND
using MessageId = std::uint32_t;       // UINT
using WParam = std::uintptr_t;         // WPARAM
using LParam = std::intptr_t;          // LPARAM
using LResult = std::intptr_t;         // LRESULT, and INT_PTR for dialogs
using WindowProcedure = LResult (*)(WindowHandle window, MessageId message, WParam wParam, LParam lParam);

// Message numbers as Windows defines them.
inline constexpr MessageId kWmCreate = 0x0001;      // WM_CREATE
inline constexpr MessageId kWmDestroy = 0x0002;     // WM_DESTROY
inline constexpr MessageId kWmPaint = 0x000F;       // WM_PAINT
inline constexpr MessageId kWmClose = 0x0010;       // WM_CLOSE
inline constexpr MessageId kWmQuit = 0x0012;        // WM_QUIT
inline constexpr MessageId kWmQueryOpen = 0x0013;   // WM_QUERYOPEN
inline constexpr MessageId kWmEndSession = 0x0016;  // WM_ENDSESSION: wParam non-zero when the session ends
inline constexpr MessageId kWmChar = 0x0102;        // WM_CHAR
inline constexpr MessageId kWmSysChar = 0x0106;     // WM_SYSCHAR: a character typed with Alt
inline constexpr MessageId kWmInitDialog = 0x0110;  // WM_INITDIALOG
inline constexpr MessageId kWmCommand = 0x0111;     // WM_COMMAND
inline constexpr MessageId kWmRButtonUp = 0x0205;   // WM_RBUTTONUP (517)
inline constexpr MessageId kWmUser = 0x0400;        // WM_USER
inline constexpr MessageId kWmApp = 0x8000;         // WM_APP

inline constexpr int kIdOk = 1;      // IDOK
inline constexpr int kIdCancel = 2;  // IDCANCEL

inline constexpr std::uint16_t LowWord(WParam value) { return static_cast<std::uint16_t>(value & 0xFFFFu); }
inline constexpr std::uint16_t HighWord(WParam value) { return static_cast<std::uint16_t>((value >> 16) & 0xFFFFu); }
inline constexpr WParam MakeWParam(std::uint16_t low, std::uint16_t high) {
  return static_cast<WParam>(low) | (static_cast<WParam>(high) << 16);
}

// MSG, without time and cursor position.
struct WindowMessage {
  WindowHandle window = nullptr;
  MessageId message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

// CS_HREDRAW | CS_VREDRAW
inline constexpr std::uint32_t kClassRedrawOnResize = 0x0003;

// WNDCLASSEXA, as far as the service fills it. Icons and menu are resource
// ids; the cursor is the standard arrow, the background COLOR_WINDOW + 1.
struct WindowClass {
  const char* name;
  WindowProcedure procedure;
  std::uint32_t style;
  int iconId;
  int smallIconId;
  int menuId;
};

// RegisterClassExA: 1, or 0 when it failed (for example, a class of that
// name, compared without regard to case, is already registered).
int RegisterWindowClass(const WindowClass& windowClass);

// CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
// CW_USEDEFAULT, 0, no parent, the class menu, the instance, nullptr). The
// window belongs to the calling thread. Its procedure receives kWmCreate
// before this returns; a result of -1 there refuses the creation: the window
// is destroyed again (it receives kWmDestroy) and the result is nullptr.
WindowHandle CreateTopLevelWindow(const char* className, const char* title);

// DestroyWindow: the procedure receives kWmDestroy, then the handle becomes
// invalid. Only the owner thread may destroy a window; false otherwise, or
// for an invalid handle. Messages sent to the window and not yet delivered
// are answered with 0, so no sender is left waiting.
bool DestroyWindow(WindowHandle window);

// IsWindow
bool IsWindow(WindowHandle window);

// FindWindowA(className, nullptr): the oldest live window of that class.
WindowHandle FindWindowByClass(const char* className);

// ShowWindow(window, SW_HIDE) followed by UpdateWindow(window).
void HideWindow(WindowHandle window);

// SetWindowLongPtrA / GetWindowLongPtrA with GWLP_USERDATA.
void SetWindowContext(WindowHandle window, void* context);
void* WindowContext(WindowHandle window);

// SendMessageA: runs the procedure and returns its result. For a window of
// another thread the message is handed to that thread's loop and the caller
// waits; while it waits, messages sent to its own windows are still served,
// so two threads that send to each other cannot deadlock. 0 for an invalid
// handle, and when the window goes away before it could answer.
LResult SendWindowMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam);

// GetQueueStatus(QS_SENDMESSAGE): whether a message that another thread
// sent is waiting in the calling thread's queue; nothing is served.
bool SentMessageWaiting();

// PostMessageA: queues the message for the window's thread and returns at
// once; false for an invalid handle. A null window posts to the calling
// thread's own queue.
bool PostWindowMessage(WindowHandle window, MessageId message, WParam wParam, LParam lParam);

// GetMessageA(message, nullptr, 0, 0): serves sent messages while it waits,
// then returns the next posted message (true), or kWmQuit (false, its wParam
// the exit code) once PostQuitMessage was called and no posted message is
// left ahead of it.
bool GetWindowMessage(WindowMessage* message);

// PeekMessageA(message, nullptr, 0, 0, PM_REMOVE): as GetWindowMessage but
// never waits; false when nothing is waiting. kWmQuit is returned as true.
bool PeekWindowMessage(WindowMessage* message);

// TranslateMessage: turns key strokes into character messages.
void TranslateWindowMessage(const WindowMessage& message);

// DispatchMessageA: runs the procedure of the message's window.
LResult DispatchWindowMessage(const WindowMessage& message);

// PostQuitMessage
void PostQuitMessage(int exitCode);

// DefWindowProcA: a close request destroys the window; everything else 0.
LResult DefaultWindowProcedure(WindowHandle window, MessageId message, WParam wParam, LParam lParam);

// Modal dialogs (DialogBoxParamA and EndDialog). The procedure answers true
// for a message it handled, as a DLGPROC does.
using DialogProcedure = LResult (*)(WindowHandle dialog, MessageId message, WParam wParam, LParam lParam);

// DialogBoxParamA(instance, dialogId, owner, procedure, 0): returns the
// result given to EndDialog, or -1 when the dialog could not be shown.
// A platform without a display shows nothing: the dialog receives
// kWmInitDialog, its static texts are written to the standard error stream
// and its default button is pressed (then Cancel, if still open).
LResult RunModalDialog(WindowHandle owner, int dialogId, DialogProcedure procedure);

// EndDialog
bool EndDialog(WindowHandle dialog, LResult result);

}  // namespace plat
