// Stop requests on Windows: console control events. The system runs the
// control handler on a thread of its own for each event, so the program's
// handler is called there, outside any signal context. Ctrl+C and
// Ctrl+Break are taken over entirely; for a closed console window (and a
// log-off or shut-down) the system ends the process once the control
// handler returns, so the handler waits a little for the program to leave
// in order first.
#include <windows.h>

#include "platform/stop_requests.h"

namespace plat {
namespace {

// How long a closing console gives the program to leave in order; the
// system allows about five seconds.
constexpr DWORD kCloseGraceMs = 4000;

struct Watch {
  CRITICAL_SECTION section;  // held while the program's handler runs
  bool watching = false;
  StopRequestHandler handler = nullptr;
  void* context = nullptr;
  HANDLE ended = nullptr;  // manual-reset event: set once watching has ended

  Watch() { ::InitializeCriticalSection(&section); }
};

// Never destroyed: the system may call the control handler while the
// process runs its exit handlers.
Watch& TheWatch() {
  static Watch* watch = new Watch;
  return *watch;
}

BOOL WINAPI ControlHandler(DWORD event) {
  Watch& watch = TheWatch();
  ::EnterCriticalSection(&watch.section);
  const bool handled = watch.watching;
  if (handled) watch.handler(watch.context);
  const HANDLE ended = watch.ended;
  ::LeaveCriticalSection(&watch.section);
  if (!handled) return FALSE;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::WaitForSingleObject(ended, kCloseGraceMs);
  }
  return TRUE;
}

}  // namespace

bool WatchStopRequests(StopRequestHandler handler, void* context) {
  Watch& watch = TheWatch();
  ::EnterCriticalSection(&watch.section);
  bool started = false;
  if (!watch.watching && handler != nullptr) {
    if (watch.ended == nullptr) watch.ended = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (watch.ended != nullptr && ::SetConsoleCtrlHandler(ControlHandler, TRUE) != FALSE) {
      ::ResetEvent(watch.ended);
      watch.handler = handler;
      watch.context = context;
      watch.watching = true;
      started = true;
    }
  }
  ::LeaveCriticalSection(&watch.section);
  return started;
}

void StopWatchingStopRequests() {
  Watch& watch = TheWatch();
  // Waits for a handler call in progress, which holds the section.
  ::EnterCriticalSection(&watch.section);
  if (watch.watching) {
    ::SetConsoleCtrlHandler(ControlHandler, FALSE);
    watch.watching = false;
    ::SetEvent(watch.ended);
  }
  ::LeaveCriticalSection(&watch.section);
}

}  // namespace plat
