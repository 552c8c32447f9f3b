// The monitor behind Event and WaitGroup on Windows: a critical section
// with a condition variable, and the value it guards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <new>

namespace plat::detail {

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


}  // namespace plat::detail
