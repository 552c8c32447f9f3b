// Windows threads, locks, events, time and the native platform table.
#include <windows.h>

#include <process.h>

#include <new>

#include "platform/win/win_api.h"

namespace plat {
namespace win {
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

}  // namespace win

const PlatformApi& NativePlatform() {
  static const PlatformApi api = {
      win::SocketStartup,      win::SocketCleanup,       win::LastSocketError, win::OpenStreamSocket,
      win::BindAnyAddress,     win::Listen,              win::Accept,          win::Recv,
      win::Send,               win::CloseSocket,         win::ShutdownSocket,  win::SetSendTimeout,
      win::LocalPort,          win::SetReceiveTimeout,   win::ConnectTo,       win::HostName,
      win::ResolveIPv4,        win::StartThread,         win::JoinThread,      win::DetachThread,
      win::TickCount,          win::SleepMs,             win::WriteStandardError, win::WriteStandardOutput,
      win::DebugOutput,
  };
  return api;
}

Lock::Lock() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof storage_);
  ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
Lock::~Lock() { ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Enter() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Lock::Leave() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

namespace {

// A critical section with a condition variable, and the value it guards:
// the common body of Event (a flag) and WaitGroup (a count).
template <typename Value>
struct Monitor {
  CRITICAL_SECTION section;
  CONDITION_VARIABLE condition;
  Value value;

  static Monitor& In(unsigned char* storage) { return *reinterpret_cast<Monitor*>(storage); }

  static void Build(unsigned char* storage) {
    auto* monitor = new (storage) Monitor{};
    ::InitializeCriticalSection(&monitor->section);
    ::InitializeConditionVariable(&monitor->condition);
  }

  void Destroy() { ::DeleteCriticalSection(&section); }  // a condition variable needs no clean-up

  // Changes the value under the lock and wakes the waiters; leaving the
  // critical section is the last access, so a waiter (which has to enter it
  // again before it returns) may destroy the object right after.
  template <typename Change>
  void Update(Change change) {
    ::EnterCriticalSection(&section);
    change(value);
    ::WakeAllConditionVariable(&condition);
    ::LeaveCriticalSection(&section);
  }

  // True when done(value) held before the timeout.
  template <typename Done>
  bool WaitFor(std::uint32_t milliseconds, Done done) {
    const DWORD start = ::GetTickCount();
    ::EnterCriticalSection(&section);
    while (!done(value)) {
      const DWORD elapsed = ::GetTickCount() - start;
      if (elapsed >= milliseconds) break;
      // Wakes early are fine: the loop looks at the value and the clock again.
      ::SleepConditionVariableCS(&condition, &section, milliseconds - elapsed);
    }
    const bool result = done(value);
    ::LeaveCriticalSection(&section);
    return result;
  }
};

using EventMonitor = Monitor<bool>;
using CountMonitor = Monitor<long>;

}  // namespace

Event::Event() {
  static_assert(sizeof(EventMonitor) <= sizeof storage_);
  EventMonitor::Build(storage_);
}
Event::~Event() { EventMonitor::In(storage_).Destroy(); }
void Event::Set() {
  EventMonitor::In(storage_).Update([](bool& set) { set = true; });
}
void Event::Reset() {
  EventMonitor::In(storage_).Update([](bool& set) { set = false; });
}
bool Event::Wait(std::uint32_t milliseconds) {
  return EventMonitor::In(storage_).WaitFor(milliseconds, [](bool set) { return set; });
}

WaitGroup::WaitGroup() {
  static_assert(sizeof(CountMonitor) <= sizeof storage_);
  CountMonitor::Build(storage_);
}
WaitGroup::~WaitGroup() { CountMonitor::In(storage_).Destroy(); }
void WaitGroup::Add() {
  CountMonitor::In(storage_).Update([](long& count) { ++count; });
}
void WaitGroup::Done() {
  CountMonitor::In(storage_).Update([](long& count) { --count; });
}
bool WaitGroup::Wait(std::uint32_t milliseconds) {
  return CountMonitor::In(storage_).WaitFor(milliseconds, [](long count) { return count == 0; });
}

}  // namespace plat
