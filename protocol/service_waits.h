// How long the waiting commands may hold the service before they reply.
// The handlers wait by these figures and the command catalogue tells
// clients of them, so that a client's time-out always covers the wait.
#pragma once

#include <cstdint>

namespace vesk::service_waits {

// EFAS, ESAS, DACS: the run's state is read once a period, so many times at
// most.
inline constexpr int kAutoRunPolls = 20;
inline constexpr std::uint32_t kAutoRunPollPeriodMs = 1000;
inline constexpr std::uint32_t kAutoRunMs = kAutoRunPolls * kAutoRunPollPeriodMs;

// ISAV: the capture's flag is polled on a 10 ms grid for at most this long.
inline constexpr std::uint32_t kCaptureMs = 180000;
inline constexpr std::uint32_t kCapturePollMs = 10;

// FPMS, FPAS: a pause after each change of the pressure adjustment (FPAS
// makes two).
inline constexpr std::uint32_t kPressureSettleMs = 100;

struct CommandWait {
  char code[5];
  std::uint32_t longestMs;
};

inline constexpr CommandWait kCommandWaits[] = {
    {"EFAS", kAutoRunMs}, {"ESAS", kAutoRunMs},        {"DACS", kAutoRunMs},
    {"ISAV", kCaptureMs}, {"FPMS", kPressureSettleMs}, {"FPAS", 2 * kPressureSettleMs},
};

}  // namespace vesk::service_waits
