// Steps that many command handlers share: answering with a reply record and
// setting a centred X/Y pair.
#pragma once

#include <cstdint>

#include "commands/readings.h"
#include "protocol/message.h"
#include "scope/sem.h"

namespace vesk {

// A setter of one raw axis value, e.g. sem_SetStigXAbs.
using AxisSetter = std::int32_t(SEM_CALL*)(std::int16_t raw);

// status = the record's size when accepted, -1 otherwise; the record goes
// over the body, magic and length are set. The reader (returning a
// ReplyRecord) is passed rather than its record so that the readings are
// surely taken after the action that decided `accepted`: the order in which
// a call's arguments are evaluated is unspecified.
template <typename ReadReply>
void AnswerWith(Message& message, bool accepted, ReadReply readReply) {
  const auto record = readReply();
  message.SetStatus(accepted ? static_cast<std::int16_t>(record.kSize) : kStatusFailed);
  record.CommitTo(message);
}

// Both wire values are checked before anything is set; Y is set only after
// X was accepted, so a refused X leaves both axes as they were.
inline bool SetCentredPair(std::int16_t x, std::int16_t y, CentredScale scale, AxisSetter setX,
                           AxisSetter setY) {
  if (!WithinScale(x, scale) || !WithinScale(y, scale)) return false;
  if (setX(RawValue(x, scale)) != 1) return false;
  return setY(RawValue(y, scale)) == 1;
}

}  // namespace vesk
