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

void BusyWait(std::uint32_t milliseconds) {
  const WaitClock& clock = CurrentWaitClock();
  const std::uint32_t start = clock.tickCount();
  while (static_cast<std::uint32_t>(clock.tickCount() - start) < milliseconds) {
  }
}

void PollSleep(std::uint32_t milliseconds) { CurrentWaitClock().sleep(milliseconds); }

}  // namespace vesk
