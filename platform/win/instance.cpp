// The single-instance lock on Windows: the named mutex, created and tested
// in one call. The handle stays open for the life of the process; the name
// goes with the process's last handle, however the process ended.
#include <windows.h>

#include "platform/instance.h"

namespace plat {

InstanceLockResult AcquireInstanceLock(const char* name) {
  if (name == nullptr || name[0] == '\0') return InstanceLockResult::kUnavailable;
  // Not owned: the mutex is only a name. When it exists already, the call
  // still gives a handle, to the other instance's mutex, and says so.
  const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) {
    // A name held by a process of another user can be refused rather than
    // opened: that is another instance too.
    return ::GetLastError() == ERROR_ACCESS_DENIED ? InstanceLockResult::kHeldElsewhere
                                                   : InstanceLockResult::kUnavailable;
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return InstanceLockResult::kHeldElsewhere;
  }
  return InstanceLockResult::kAcquired;  // the handle stays open for the life of the process
}

void ReportInstanceHeldElsewhere(const char*) {}

}  // namespace plat
