// PCD mode family: read the mode, and set it when the library reports the
// PCD ready. The mode is passed through uninterpreted.
#include "commands/readings.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kPcdReplySize = 12;

void AnswerPcdMode(Message& m) {
  ReplyRecord<kPcdReplySize> reply;
  reply.U16<10>(LowU16(sem_GetPcdMode()));
  reply.CommitTo(m);
}

}  // namespace

namespace commands {

void APCR(Message& m) {
  m.SetStatus(static_cast<std::int16_t>(kPcdReplySize));
  AnswerPcdMode(m);
}

void APLS(Message& m) {
  const bool accepted = Low16(sem_GetPcdStatus()) == 1 && sem_SetPcdMode(m.BodyS16<0>()) == 1;
  m.SetStatus(accepted ? static_cast<std::int16_t>(kPcdReplySize) : kStatusFailed);
  AnswerPcdMode(m);
}

}  // namespace commands
}  // namespace vesk
