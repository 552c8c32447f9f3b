// PCD mode family: read the mode, and set it when the library reports the
// PCD ready. The mode is passed through uninterpreted.
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kPcdReplySize = 12;

ReplyRecord<kPcdReplySize> ReadPcdMode() { return WordRecord<kPcdReplySize, 10>(LowU16(sem_GetPcdMode())); }

}  // namespace

namespace commands {

void APCR(Message& message) { AnswerRecord(message, true, ReadPcdMode()); }

void APLS(Message& message) {
  const bool accepted = Low16(sem_GetPcdStatus()) == 1 && sem_SetPcdMode(message.BodyS16<0>()) == 1;
  AnswerWith(message, accepted, ReadPcdMode);
}

}  // namespace commands
}  // namespace vesk
