// Time for the commands that wait: they sleep, measuring what has passed on
// a 32-bit millisecond tick count. Both go through the WaitClock, which
// tests replace so that a 20-second wait takes no time.
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

// Milliseconds since `start` on the clock; the unsigned difference keeps it
// right across the wrap.
std::uint32_t ElapsedSince(const WaitClock& clock, std::uint32_t start);

// Sleeps until at least `due` milliseconds have passed since `start`, and
// returns the time that has passed. A sleep that ends early is resumed for
// what is left; one that overshoots is not made up for.
std::uint32_t SleepUntil(const WaitClock& clock, std::uint32_t start, std::uint32_t due);

// Returns once at least `milliseconds` ticks have passed, sleeping meanwhile.
void SleepFor(std::uint32_t milliseconds);

// A plain sleep of the calling thread (the poll pause of waiting commands).
void PollSleep(std::uint32_t milliseconds);

}  // namespace vesk
