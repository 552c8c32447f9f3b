// Magnification family: EMGS sets an absolute magnification snapped to the
// instrument's series, EMGD a relative change that the library steps itself.
// Both answer with the magnification in force afterwards.
#include "commands/magnification.h"

#include <cstdlib>

#include "commands/high_voltage.h"
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

// Within each decade from 20 up, the series goes in these steps.
constexpr std::array<std::int32_t, 32> kDecadeSteps = {22,  23,  25,  27,  30,  33,  35,  37,  40,  43, 45,
                                                       50,  55,  60,  65,  70,  75,  80,  85,  90,  95, 100,
                                                       110, 120, 130, 140, 150, 160, 170, 180, 190, 200};
constexpr std::array<std::int32_t, 5> kTopSteps = {220000, 230000, 250000, 270000, 300000};

constexpr std::array<std::int32_t, 149> MakeMagnificationSteps() {
  std::array<std::int32_t, 149> steps{};
  std::size_t i = 0;
  for (std::int32_t m = 5; m <= 20; ++m) steps[i++] = m;
  for (std::int32_t decade = 1; decade <= 1000; decade *= 10) {
    for (std::int32_t step : kDecadeSteps) steps[i++] = step * decade;
  }
  for (std::int32_t step : kTopSteps) steps[i++] = step;
  return steps;
}
static_assert(MakeMagnificationSteps().front() == 5 && MakeMagnificationSteps()[15] == 20 &&
              MakeMagnificationSteps()[143] == 200000 && MakeMagnificationSteps().back() == 300000);

constexpr std::size_t kMagnificationReplySize = 4;
using MagnificationReply = ReplyRecord<kMagnificationReplySize>;

MagnificationReply ReadMagnification() {
  MagnificationReply reply;
  reply.U32<0>(static_cast<std::uint32_t>(sem_GetMag()));
  return reply;
}

}  // namespace

const std::array<std::int32_t, 149> MagnificationSteps = MakeMagnificationSteps();

bool SetMagnification(std::int32_t requested) {
  if (InstrumentType() == kLowVoltageInstrumentType &&
      requested < kLowVoltageInstrumentMinimumMagnification) {
    return false;
  }
  const std::int32_t m = requested > MagnificationSteps.back()    ? MagnificationSteps.back()
                         : requested < MagnificationSteps.front() ? MagnificationSteps.front()
                                                                  : requested;
  std::size_t i = 0;
  while (MagnificationSteps[i] < m) ++i;  // the clamp keeps i within the series
  std::int32_t target = MagnificationSteps[i];
  if (target != m) {
    // Between two steps (so i >= 1): the lower one only when strictly nearer.
    const std::int32_t below = MagnificationSteps[i - 1];
    if (std::abs(below - m) < std::abs(target - m)) target = below;
  }
  sem_SetMagAbs(target);  // the library's verdict is not part of the command's
  return true;
}

namespace commands {

void EMGS(Message& message) {
  const bool accepted = SetMagnification(message.BodyS32<0>());
  AnswerWith(message, accepted, ReadMagnification);
}

void EMGD(Message& message) {
  const bool accepted = sem_SetMagRel(message.BodyS16<0>()) == 1;
  AnswerWith(message, accepted, ReadMagnification);
}

}  // namespace commands
}  // namespace vesk
