// Stop requests on POSIX: SIGINT and SIGTERM are blocked in every thread and
// taken by one watcher thread with sigwait.
#include <atomic>
#include <csignal>
#include <mutex>
#include <pthread.h>

#include "platform/stop_requests.h"

namespace plat {
namespace {

std::mutex watchMutex;
bool watching = false;
pthread_t watcher;
std::atomic<bool> ending{false};
StopRequestHandler requestHandler = nullptr;
void* requestContext = nullptr;

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

void* Watch(void*) {
  const sigset_t signals = StopSignals();
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (ending.load()) return nullptr;
    requestHandler(requestContext);
  }
}

}  // namespace

bool WatchStopRequests(StopRequestHandler handler, void* context) {
  std::lock_guard<std::mutex> guard(watchMutex);
  if (watching || handler == nullptr) return false;
  const sigset_t signals = StopSignals();
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return false;
  requestHandler = handler;
  requestContext = context;
  ending.store(false);
  if (pthread_create(&watcher, nullptr, Watch, nullptr) != 0) return false;
  watching = true;
  return true;
}

void StopWatchingStopRequests() {
  std::lock_guard<std::mutex> guard(watchMutex);
  if (!watching) return;
  ending.store(true);
  // Blocked everywhere, so the signal waits for the watcher's sigwait.
  pthread_kill(watcher, SIGTERM);
  pthread_join(watcher, nullptr);
  watching = false;
}

}  // namespace plat
