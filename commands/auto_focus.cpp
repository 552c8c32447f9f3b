// Automatic focus and stigmation: EFAS and ESAS start the instrument's
// adjustment, wait for it inside the service (polling once a second, at most
// 20 times) and report the lens, stigmator, IMS, contrast and brightness
// values that it left behind. The dispatch lock stays held meanwhile.
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "protocol/message.h"
#include "protocol/service_waits.h"
#include "protocol/wait_clock.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kAutoAdjustReplySize = 24;
using AutoAdjustReply = ReplyRecord<kAutoAdjustReplySize>;

constexpr std::int16_t kAdjustmentRunning = 1;
constexpr std::int16_t kAdjustmentEnded = 0;

// The pair of library calls that drives one kind of adjustment.
struct AutoAdjustment {
  std::int32_t(SEM_CALL* start)();
  std::int32_t(SEM_CALL* state)();
};

constexpr AutoAdjustment kAutoFocus{sem_StartAFD, sem_GetAFD};
constexpr AutoAdjustment kAutoStigmation{sem_StartASD, sem_GetASD};

// Reaching the poll limit is not an error: the adjustment may still be
// running in the instrument, and the reply shows the values of the moment.
void WaitForEnd(const AutoAdjustment& adjustment) {
  for (int poll = 0; poll < service_waits::kAutoRunPolls; ++poll) {
    PollSleep(service_waits::kAutoRunPollPeriodMs);
    if (Low16(adjustment.state()) == kAdjustmentEnded) return;
  }
}

// Here the lens readings enter the combined value as signed 16-bit numbers;
// for real lens values (0 .. 4095) that equals the unsigned form.
AutoAdjustReply ReadAutoAdjustResult() {
  const std::int32_t coarse = Low16(sem_GetOLCrs());
  const std::int32_t fine = Low16(sem_GetOLFine());
  AutoAdjustReply reply;
  reply.S32<2>(coarse * 4096 + fine);
  reply.Float<6>(WorkingDistanceMillimetres());
  reply.S16<10>(StigmatorX());
  reply.S16<12>(StigmatorY());
  reply.U16<14>(LowU16(sem_GetIms()));
  reply.S32<16>(Low16(sem_GetCont()));
  reply.S32<20>(Low16(sem_GetBrt()));
  return reply;
}

// A refused start leaves the body as the buffer held it: no readings. When
// the first state query does not report a running adjustment (it ended at
// once, or the library reports something else) there is nothing to wait
// for, and the reply carries the values in force, like every other success.
void RunAndWait(Message& message, const AutoAdjustment& adjustment) {
  const bool started = adjustment.start() == 1;
  if (started && Low16(adjustment.state()) == kAdjustmentRunning) WaitForEnd(adjustment);
  AnswerReadings(message, started, ReadAutoAdjustResult);
}

}  // namespace

namespace commands {

void EFAS(Message& message) { RunAndWait(message, kAutoFocus); }
void ESAS(Message& message) { RunAndWait(message, kAutoStigmation); }

}  // namespace commands
}  // namespace vesk
