// Windows threads, locks, events and time.
#include <windows.h>

#include <process.h>

#include <new>

#include "platform/native_api.h"

namespace plat {
namespace native {
namespace {

struct ThreadStart {
  ThreadMain main;
  void* argument;
};

// _beginthreadex rather than CreateThread, so that the C runtime's
// per-thread state is set up (and freed) for every thread.
unsigned __stdcall RunThread(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.main(start.argument);
  return 0;
}

}  // namespace

ThreadHandle StartThread(ThreadMain main, void* argument) {
  auto* start = new (std::nothrow) ThreadStart{main, argument};
  if (start == nullptr) return nullptr;
  const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, RunThread, start, 0, nullptr);
  if (thread == 0) {
    delete start;
    return nullptr;
  }
  return reinterpret_cast<ThreadHandle>(thread);
}

void JoinThread(ThreadHandle thread) {
  ::WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  ::CloseHandle(static_cast<HANDLE>(thread));
}

void DetachThread(ThreadHandle thread) { ::CloseHandle(static_cast<HANDLE>(thread)); }

std::uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace native

Lock::Lock() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof storage_);
  ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
Lock::~Lock() { ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
bool Lock::TryEnter() { return ::TryEnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)) != FALSE; }
void Lock::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace plat
