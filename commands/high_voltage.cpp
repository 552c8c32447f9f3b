// High-voltage family: FVAS, FEBS, FXSR. All three answer with the 54-byte
// HighVoltageReply read after the action, whether it succeeded or not.
#include "commands/high_voltage.h"

#include <cmath>
#include <cstdlib>

#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::array<std::int32_t, 55> MakeVoltageSteps() {
  std::array<std::int32_t, 55> steps{};
  std::size_t i = 0;
  for (std::int32_t v = 30000; v >= 3000; v -= 1000) steps[i++] = v;
  for (std::int32_t v = 2900; v >= 300; v -= 100) steps[i++] = v;
  return steps;
}

constexpr std::size_t kHighVoltageReplySize = 54;
constexpr std::int16_t kVacuumReady = 4;

using HighVoltageReply = ReplyRecord<kHighVoltageReplySize>;

// htState: 2 with the high voltage on, 1 when off but the vacuum is ready,
// 0 when off without vacuum; any other library state passes through.
std::int16_t HighVoltageState() {
  const std::int16_t ht = Low16(sem_GetHT());
  if (ht == 1) return 2;
  if (ht == 0) return Low16(sem_GetVacuumStatus()) == kVacuumReady ? 1 : 0;
  return ht;
}

// Readings in the order the library is asked: HT (and vacuum), accelerating
// voltage, working distance, load current.
HighVoltageReply ReadHighVoltage() {
  HighVoltageReply reply;
  reply.S16<2>(HighVoltageState());
  reply.Float<4>(AcceleratingVoltageKilovolts());
  reply.Float<34>(WorkingDistanceMillimetres());
  reply.Float<14>(static_cast<float>(Low16(sem_GetLoadCurrent())));
  return reply;
}

}  // namespace

const std::array<std::int32_t, 55> AcceleratingVoltageSteps = MakeVoltageSteps();

bool SetAcceleratingVoltage(float kilovolts) {
  float volts = kilovolts * 1000.0f;
  if (Low16(sem_GetSemType()) == kLowVoltageInstrumentType &&
      (volts > 20000.0f || volts < 500.0f || std::isnan(volts))) {
    return false;
  }
  if (volts > 30000.0f) {
    volts = 30000.0f;
  } else if (volts < 300.0f || std::isnan(volts)) {
    volts = 300.0f;
  }
  const auto n = static_cast<std::int32_t>(volts);
  std::size_t i = 0;
  while (n < AcceleratingVoltageSteps[i]) ++i;  // the last step, 300, ends it
  std::int32_t target = AcceleratingVoltageSteps[i];
  if (static_cast<float>(target) != volts) {
    // Between two steps: the nearer wins, a tie goes to the higher voltage.
    // 30000 is reached only by equality, so i >= 1 here.
    const std::int32_t above = AcceleratingVoltageSteps[i - 1];
    if (std::abs(above - n) <= std::abs(target - n)) target = above;
  }
  sem_SetAccvAbs(static_cast<std::int16_t>(target));
  return true;
}

namespace commands {

void FVAS(Message& message) {
  AnswerWith(message, SetAcceleratingVoltage(message.BodyFloat<0>()), ReadHighVoltage);
}

void FEBS(Message& message) {
  AnswerWith(message, sem_SetHT(message.BodyS16<0>()) == 1, ReadHighVoltage);
}

// Reads only; the status bytes come back as the request had them.
void FXSR(Message& message) { AnswerRecord(message, true, ReadHighVoltage(), OnSuccess::kStatusUnchanged); }

}  // namespace commands
}  // namespace vesk
