// POSIX threads, locks, events, time and the native platform table.
#include <cerrno>
#include <ctime>
#include <new>
#include <pthread.h>

#include "platform/posix/posix_api.h"

namespace plat {
namespace posix {
namespace {

struct ThreadStart {
  ThreadMain main;
  void* argument;
};

void* RunThread(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.main(start.argument);
  return nullptr;
}

}  // namespace

ThreadHandle StartThread(ThreadMain main, void* argument) {
  auto* start = new (std::nothrow) ThreadStart{main, argument};
  auto* thread = new (std::nothrow) pthread_t;
  if (start == nullptr || thread == nullptr || pthread_create(thread, nullptr, RunThread, start) != 0) {
    delete start;
    delete thread;
    return nullptr;
  }
  return thread;
}

void JoinThread(ThreadHandle thread) {
  auto* native = static_cast<pthread_t*>(thread);
  pthread_join(*native, nullptr);
  delete native;
}

void DetachThread(ThreadHandle thread) {
  auto* native = static_cast<pthread_t*>(thread);
  pthread_detach(*native);
  delete native;
}

std::uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void SleepMs(std::uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace posix

const PlatformApi& NativePlatform() {
  static const PlatformApi api = {
      posix::SocketStartup, posix::SocketCleanup,   posix::LastSocketError, posix::OpenStreamSocket,
      posix::BindAnyAddress, posix::Listen,         posix::Accept,          posix::Recv,
      posix::Send,           posix::CloseSocket,    posix::ShutdownSocket,  posix::SetSendTimeout,
      posix::LocalPort,      posix::SetReceiveTimeout, posix::ConnectTo, posix::HostName,       posix::ResolveIPv4,     posix::StartThread,
      posix::JoinThread,     posix::DetachThread,   posix::TickCount,      posix::SleepMs,         posix::WriteStandardError,
      posix::WriteStandardOutput, posix::DebugOutput,
  };
  return api;
}

Lock::Lock() {
  static_assert(sizeof(pthread_mutex_t) <= sizeof storage_);
  new (storage_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
}
Lock::~Lock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::Enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::Leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

namespace {

timespec DeadlineAfter(std::uint32_t milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}

// A mutex with a condition on the monotonic clock, and the value it guards:
// the common body of Event (a flag) and WaitGroup (a count).
template <typename Value>
struct Monitor {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  Value value;

  static Monitor& In(unsigned char* storage) { return *reinterpret_cast<Monitor*>(storage); }

  static void Build(unsigned char* storage) {
    auto* monitor = new (storage) Monitor{};
    pthread_mutex_init(&monitor->mutex, nullptr);
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&monitor->condition, &attributes);
    pthread_condattr_destroy(&attributes);
  }

  void Destroy() {
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
  }

  // Changes the value under the mutex and wakes the waiters; the unlock is
  // the last access, so a waiter may destroy the object right after.
  template <typename Change>
  void Update(Change change) {
    pthread_mutex_lock(&mutex);
    change(value);
    pthread_cond_broadcast(&condition);
    pthread_mutex_unlock(&mutex);
  }

  // True when done(value) held before the timeout.
  template <typename Done>
  bool WaitFor(std::uint32_t milliseconds, Done done) {
    const timespec deadline = DeadlineAfter(milliseconds);
    pthread_mutex_lock(&mutex);
    while (!done(value)) {
      if (pthread_cond_timedwait(&condition, &mutex, &deadline) == ETIMEDOUT) break;
    }
    const bool result = done(value);
    pthread_mutex_unlock(&mutex);
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
