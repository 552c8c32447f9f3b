// Event and WaitGroup on POSIX, built on one monitor: a mutex, a condition
// and the value it guards; Wakeup on a semaphore.
#include "platform/posix/monitor.h"

#include <semaphore.h>

#include <cerrno>

#include "platform/platform.h"

namespace plat {

using EventMonitor = detail::Monitor<bool>;
using CountMonitor = detail::Monitor<long>;

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

Wakeup::Wakeup() {
  static_assert(sizeof(sem_t) <= sizeof storage_);
  sem_init(new (storage_) sem_t, 0, 0);
}
Wakeup::~Wakeup() { sem_destroy(reinterpret_cast<sem_t*>(storage_)); }
void Wakeup::Post() { sem_post(reinterpret_cast<sem_t*>(storage_)); }
void Wakeup::Wait() {
  while (sem_wait(reinterpret_cast<sem_t*>(storage_)) != 0 && errno == EINTR) {
  }
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
