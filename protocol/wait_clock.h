// Time for the commands that wait: BusyWait spins on a 32-bit millisecond
// tick count, the polling commands sleep between polls. Both go through the
// WaitClock, which tests replace so that a 20-second wait takes no time.
#pragma once

#include <cstdint>

namespace vesk {

struct WaitClock {
  std::uint32_t (*tickCount)();              // milliseconds, wrapping at 2^32
  void (*sleep)(std::uint32_t milliseconds);
};

// The platform's tick count and sleep, unless a test installed a clock.
const WaitClock& CurrentWaitClock();
// nullptr restores the platform clock.
void SetWaitClockForTesting(const WaitClock* clock);

// Returns once at least `milliseconds` ticks have passed, spinning on the
// tick count; the unsigned difference keeps it right across the wrap.
void BusyWait(std::uint32_t milliseconds);

// A plain sleep of the calling thread (the poll pause of waiting commands).
void PollSleep(std::uint32_t milliseconds);

}  // namespace vesk
