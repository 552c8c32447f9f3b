// Automatic contrast and brightness (DACS): start the run, wait for it under
// DispatchLock polling once a second (at most 20 polls), then report every
// detector item.
#include "commands/detectors.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "protocol/service_waits.h"
#include "protocol/wait_clock.h"

namespace vesk {
namespace {

constexpr std::size_t kAutoContrastReplySize = 32;  // a zero word, then the readings

// A run not reported as running right after the start (it may already have
// ended) is not waited for, but its reply still carries the current
// readings: a success reply never carries stale buffer bytes.
void WaitForRun() {
  if (Low16(sem_GetACB()) != 1) return;
  for (int poll = 0; poll < service_waits::kAutoRunPolls; ++poll) {
    PollSleep(service_waits::kAutoRunPollPeriodMs);
    if (Low16(sem_GetACB()) == 0) return;
  }
}

ReplyRecord<kAutoContrastReplySize> ReadAutoContrastResult() {
  ReplyRecord<kAutoContrastReplySize> reply;
  ReadDetectorItems<2>(reply);
  return reply;
}

}  // namespace

namespace commands {

void DACS(Message& message) {
  const bool started = sem_StartACB() == 1;
  if (started) WaitForRun();
  AnswerReadings(message, started, ReadAutoContrastResult);
}

}  // namespace commands
}  // namespace vesk
