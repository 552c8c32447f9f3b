// The monitor behind Event and WaitGroup on POSIX: a mutex with a
// condition on the monotonic clock, and the value it guards.
#pragma once

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>
#include <pthread.h>

namespace plat::detail {

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

}  // namespace plat::detail
