// Event, Wakeup and WaitGroup on Windows, from the kernel objects that
// Windows XP already has: an Event is a manual-reset event, a Wakeup an
// auto-reset one; a WaitGroup is a count
// under a critical section with a manual-reset event that is set exactly
// while the count is zero. (Condition variables would need Vista.)
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace plat {
namespace {

HANDLE& EventIn(unsigned char* storage) { return *reinterpret_cast<HANDLE*>(storage); }

struct Counter {
  CRITICAL_SECTION section;
  HANDLE zero;  // manual reset; set while count == 0
  long count;
};

Counter& CounterIn(unsigned char* storage) { return *reinterpret_cast<Counter*>(storage); }

}  // namespace

Event::Event() {
  static_assert(sizeof(HANDLE) <= sizeof storage_);
  new (storage_) HANDLE(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}
Event::~Event() { ::CloseHandle(EventIn(storage_)); }
void Event::Set() { ::SetEvent(EventIn(storage_)); }
void Event::Reset() { ::ResetEvent(EventIn(storage_)); }
bool Event::Wait(std::uint32_t milliseconds) {
  return ::WaitForSingleObject(EventIn(storage_), milliseconds) == WAIT_OBJECT_0;
}

Wakeup::Wakeup() {
  static_assert(sizeof(HANDLE) <= sizeof storage_);
  new (storage_) HANDLE(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
}
Wakeup::~Wakeup() { ::CloseHandle(EventIn(storage_)); }
void Wakeup::Post() { ::SetEvent(EventIn(storage_)); }
void Wakeup::Wait() { ::WaitForSingleObject(EventIn(storage_), INFINITE); }

WaitGroup::WaitGroup() {
  static_assert(sizeof(Counter) <= sizeof storage_);
  auto* counter = new (storage_) Counter{};
  ::InitializeCriticalSection(&counter->section);
  counter->zero = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
}
WaitGroup::~WaitGroup() {
  Counter& counter = CounterIn(storage_);
  ::CloseHandle(counter.zero);
  ::DeleteCriticalSection(&counter.section);
}
void WaitGroup::Add() {
  Counter& counter = CounterIn(storage_);
  ::EnterCriticalSection(&counter.section);
  if (counter.count++ == 0) ::ResetEvent(counter.zero);
  ::LeaveCriticalSection(&counter.section);
}
void WaitGroup::Done() {
  Counter& counter = CounterIn(storage_);
  ::EnterCriticalSection(&counter.section);
  if (--counter.count == 0) ::SetEvent(counter.zero);
  ::LeaveCriticalSection(&counter.section);  // the finishing thread's last access
}
bool WaitGroup::Wait(std::uint32_t milliseconds) {
  Counter& counter = CounterIn(storage_);
  if (::WaitForSingleObject(counter.zero, milliseconds) != WAIT_OBJECT_0) return false;
  // Through the section once more, so that a Done that set the event has
  // left it before the caller may destroy the group; and the count decides,
  // as an Add may have come since.
  ::EnterCriticalSection(&counter.section);
  const bool zero = counter.count == 0;
  ::LeaveCriticalSection(&counter.section);
  return zero;
}

}  // namespace plat
