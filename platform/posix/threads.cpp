// POSIX threads, locks, events and time.
#include <cerrno>
#include <ctime>
#include <new>
#include <pthread.h>

#include "platform/native_api.h"

namespace plat {
namespace native {
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

}  // namespace native

Lock::Lock() {
  static_assert(sizeof(pthread_mutex_t) <= sizeof storage_);
  new (storage_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
}
Lock::~Lock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::Enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
bool Lock::TryEnter() { return pthread_mutex_trylock(reinterpret_cast<pthread_mutex_t*>(storage_)) == 0; }
void Lock::Leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

}  // namespace plat
