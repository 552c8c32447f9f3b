#include "protocol/wait_clock.h"

#include <atomic>

#include "platform/platform.h"

namespace vesk {
namespace {

std::uint32_t PlatformTick() { return plat::Platform().tickCount(); }
void PlatformSleep(std::uint32_t milliseconds) { plat::Platform().sleepMs(milliseconds); }

const WaitClock kPlatformClock = {PlatformTick, PlatformSleep};
std::atomic<const WaitClock*> installed{nullptr};

}  // namespace

const WaitClock& CurrentWaitClock() {
  const WaitClock* clock = installed.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : kPlatformClock;
}

void SetWaitClockForTesting(const WaitClock* clock) { installed.store(clock, std::memory_order_release); }

std::uint32_t ElapsedSince(const WaitClock& clock, std::uint32_t start) {
  return static_cast<std::uint32_t>(clock.tickCount() - start);
}

std::uint32_t SleepUntil(const WaitClock& clock, std::uint32_t start, std::uint32_t due) {
  std::uint32_t elapsed = ElapsedSince(clock, start);
  while (elapsed < due) {
    clock.sleep(due - elapsed);
    elapsed = ElapsedSince(clock, start);
  }
  return elapsed;
}

void SleepFor(std::uint32_t milliseconds) {
  const WaitClock& clock = CurrentWaitClock();
  SleepUntil(clock, clock.tickCount(), milliseconds);
}

void PollSleep(std::uint32_t milliseconds) { CurrentWaitClock().sleep(milliseconds); }

}  // namespace vesk
