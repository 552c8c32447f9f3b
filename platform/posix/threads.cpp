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
struct EventState {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  bool set;
};
EventState& State(unsigned char* storage) { return *reinterpret_cast<EventState*>(storage); }
}  // namespace

Event::Event() {
  static_assert(sizeof(EventState) <= sizeof storage_);
  auto* state = new (storage_) EventState{};
  pthread_mutex_init(&state->mutex, nullptr);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&state->condition, &attributes);
  pthread_condattr_destroy(&attributes);
}

Event::~Event() {
  EventState& state = State(storage_);
  pthread_cond_destroy(&state.condition);
  pthread_mutex_destroy(&state.mutex);
}

void Event::Set() {
  EventState& state = State(storage_);
  pthread_mutex_lock(&state.mutex);
  state.set = true;
  pthread_cond_broadcast(&state.condition);
  pthread_mutex_unlock(&state.mutex);
}

void Event::Reset() {
  EventState& state = State(storage_);
  pthread_mutex_lock(&state.mutex);
  state.set = false;
  pthread_mutex_unlock(&state.mutex);
}

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
}  // namespace

bool Event::Wait(std::uint32_t milliseconds) {
  EventState& state = State(storage_);
  const timespec deadline = DeadlineAfter(milliseconds);
  pthread_mutex_lock(&state.mutex);
  while (!state.set) {
    if (pthread_cond_timedwait(&state.condition, &state.mutex, &deadline) == ETIMEDOUT) break;
  }
  bool result = state.set;
  pthread_mutex_unlock(&state.mutex);
  return result;
}

namespace {
struct WaitGroupState {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  long count;
};
WaitGroupState& GroupState(unsigned char* storage) { return *reinterpret_cast<WaitGroupState*>(storage); }
}  // namespace

WaitGroup::WaitGroup() {
  static_assert(sizeof(WaitGroupState) <= sizeof storage_);
  auto* state = new (storage_) WaitGroupState{};
  pthread_mutex_init(&state->mutex, nullptr);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&state->condition, &attributes);
  pthread_condattr_destroy(&attributes);
}

WaitGroup::~WaitGroup() {
  WaitGroupState& state = GroupState(storage_);
  pthread_cond_destroy(&state.condition);
  pthread_mutex_destroy(&state.mutex);
}

void WaitGroup::Add() {
  WaitGroupState& state = GroupState(storage_);
  pthread_mutex_lock(&state.mutex);
  ++state.count;
  pthread_mutex_unlock(&state.mutex);
}

void WaitGroup::Done() {
  WaitGroupState& state = GroupState(storage_);
  pthread_mutex_lock(&state.mutex);
  if (--state.count == 0) pthread_cond_broadcast(&state.condition);
  pthread_mutex_unlock(&state.mutex);
}

bool WaitGroup::Wait(std::uint32_t milliseconds) {
  WaitGroupState& state = GroupState(storage_);
  const timespec deadline = DeadlineAfter(milliseconds);
  pthread_mutex_lock(&state.mutex);
  while (state.count > 0) {
    if (pthread_cond_timedwait(&state.condition, &state.mutex, &deadline) == ETIMEDOUT) break;
  }
  bool idle = state.count == 0;
  pthread_mutex_unlock(&state.mutex);
  return idle;
}

}  // namespace plat
