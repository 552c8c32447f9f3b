// Stop requests on Windows: console control events. The system runs the
// control handler on a thread of its own for each event, so the program's
// handler is called there, outside any signal context. Ctrl+C and
// Ctrl+Break are taken over entirely. For a closed console window (and a
// log-off or shut-down, which reach only programs without windows) the
// system ends the process once the control handler returns, so the handler
// waits, giving the program the time to leave in order and end the process
// itself, with its own exit code.
#include <windows.h>

#include "platform/stop_requests.h"

namespace plat {
namespace {

// How long a closing console gives the program to leave in order; the
// system allows about five seconds.
constexpr DWORD kCloseGraceMs = 4000;

struct Watch {
  CRITICAL_SECTION section;  // held while the program's handler runs
  bool installed = false;    // the control handler, once installed, stays
  bool watching = false;
  StopRequestHandler handler = nullptr;
  void* context = nullptr;

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
  if (watch.watching) watch.handler(watch.context);
  ::LeaveCriticalSection(&watch.section);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::Sleep(kCloseGraceMs);
  }
  return TRUE;
}

}  // namespace

bool WatchStopRequests(StopRequestHandler handler, void* context) {
  Watch& watch = TheWatch();
  ::EnterCriticalSection(&watch.section);
  bool started = false;
  if (!watch.watching && handler != nullptr) {
    if (!watch.installed) watch.installed = ::SetConsoleCtrlHandler(ControlHandler, TRUE) != FALSE;
    if (watch.installed) {
      watch.handler = handler;
      watch.context = context;
      watch.watching = true;
      started = true;
    }
  }
  ::LeaveCriticalSection(&watch.section);
  return started;
}

// The control handler stays installed and ignores what comes: removing it
// would wait for the system's console lock, which a closed console's
// handler call holds while it waits for the program to end.
void StopWatchingStopRequests() {
  Watch& watch = TheWatch();
  // Waits for a handler call in progress, which holds the section.
  ::EnterCriticalSection(&watch.section);
  watch.watching = false;
  ::LeaveCriticalSection(&watch.section);
}

}  // namespace plat
