// Image shift: EISS sets the fine image shift X and Y to absolute positions.
// Range and centre follow the instrument type; the reply shows the positions
// in force, centred the same way, whether or not the change succeeded.
#include "commands/command_steps.h"
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kFineShiftReplySize = 4;
using FineShiftReply = ReplyRecord<kFineShiftReplySize>;

FineShiftReply ReadFineShift(CentredScale scale) {
  FineShiftReply reply;
  reply.S16<0>(Centred(sem_GetFineShiftX(), scale));
  reply.S16<2>(Centred(sem_GetFineShiftY(), scale));
  return reply;
}

}  // namespace

namespace commands {

void EISS(Message& message) {
  const std::int16_t x = message.BodyS16<0>();
  const std::int16_t y = message.BodyS16<2>();
  const CentredScale scale = FineShiftScaleFor(InstrumentType());
  const bool accepted = SetCentredPair(x, y, scale, sem_SetFineShiftXAbs, sem_SetFineShiftYAbs);
  AnswerWith(message, accepted, [scale] { return ReadFineShift(scale); });
}

}  // namespace commands
}  // namespace vesk
