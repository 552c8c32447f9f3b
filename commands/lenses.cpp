// Lens family: working distance, condenser lens, objective lens (coarse and
// fine), the two stigmators and the lens reset. Every command but ELCS
// answers with the values read back, whether the change succeeded or not.
#include "commands/command_steps.h"
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kLensReplySize = 20;
constexpr std::size_t kCondenserReplySize = 4;
constexpr std::size_t kStigmatorReplySize = 8;

using LensReply = ReplyRecord<kLensReplySize>;
using CondenserReply = ReplyRecord<kCondenserReplySize>;
using StigmatorReply = ReplyRecord<kStigmatorReplySize>;

// An absolute lens setting: the raw value goes to the library unchanged,
// if it lies within 0 .. maximum.
struct AbsoluteLens {
  AxisSetter setter;
  std::uint16_t maximum;
};

constexpr AbsoluteLens kCondenserLens{sem_SetCLAbs, 4095};
constexpr AbsoluteLens kCondenserLensWide{sem_SetCLAbsEx, 9999};
constexpr AbsoluteLens kObjectiveCoarse{sem_SetOLCrsAbs, 4095};
constexpr AbsoluteLens kObjectiveFine{sem_SetOLFineAbs, 4095};

constexpr float kShortestWorkingDistanceMm = 5.0f;
constexpr float kLongestWorkingDistanceMm = 48.0f;

// ELCS resets the lenses only when asked with this value.
constexpr std::uint16_t kLensResetRequest = 2;

LensReply ReadLenses() {
  const std::uint16_t coarse = LowU16(sem_GetOLCrs());
  const std::uint16_t fine = LowU16(sem_GetOLFine());
  LensReply reply;
  reply.U16<2>(coarse);
  reply.U16<4>(fine);
  reply.U32<10>(CombinedObjectiveValue(coarse, fine));
  reply.Float<14>(WorkingDistanceMillimetres());
  return reply;
}

CondenserReply ReadCondenser() {
  CondenserReply reply;
  reply.U16<0>(LowU16(sem_GetCL()));
  return reply;
}

StigmatorReply ReadStigmators() {
  StigmatorReply reply;
  reply.S16<2>(StigmatorX());
  reply.S16<4>(StigmatorY());
  return reply;
}

bool SetAbsoluteLens(const Message& message, AbsoluteLens lens) {
  const std::uint16_t value = message.BodyU16<0>();
  return value <= lens.maximum && lens.setter(static_cast<std::int16_t>(value)) == 1;
}

// Relative changes carry no bounds: the library decides.
bool SetRelative(const Message& message, AxisSetter setter) { return setter(message.BodyS16<0>()) == 1; }

// The library takes whole millimetres; a value that is not a number fails
// the bounds test like any other out-of-range request.
bool SetWorkingDistance(float millimetres) {
  if (!(millimetres >= kShortestWorkingDistanceMm && millimetres <= kLongestWorkingDistanceMm)) return false;
  return sem_SetWD(static_cast<std::int16_t>(millimetres)) != 0;  // any non-zero result accepts
}

}  // namespace

namespace commands {

void EOWS(Message& message) { AnswerWith(message, SetWorkingDistance(message.BodyFloat<0>()), ReadLenses); }
void ECLS(Message& message) { AnswerWith(message, SetAbsoluteLens(message, kCondenserLens), ReadCondenser); }
void ECCS(Message& message) {
  AnswerWith(message, SetAbsoluteLens(message, kCondenserLensWide), ReadCondenser);
}
void EOCS(Message& message) { AnswerWith(message, SetAbsoluteLens(message, kObjectiveCoarse), ReadLenses); }
void EOFS(Message& message) { AnswerWith(message, SetAbsoluteLens(message, kObjectiveFine), ReadLenses); }
void EOCD(Message& message) { AnswerWith(message, SetRelative(message, sem_SetOLCrsRel), ReadLenses); }
void EOFD(Message& message) { AnswerWith(message, SetRelative(message, sem_SetOLFineRel), ReadLenses); }
void ESXD(Message& message) {
  AnswerWith(message, SetRelative(message, sem_SetStigXFineRel), ReadStigmators);
}
void ESYD(Message& message) {
  AnswerWith(message, SetRelative(message, sem_SetStigYFineRel), ReadStigmators);
}

void ESMS(Message& message) {
  const bool accepted = SetCentredPair(message.BodyS16<0>(), message.BodyS16<2>(), kStigmatorScale,
                                       sem_SetStigXAbs, sem_SetStigYAbs);
  AnswerWith(message, accepted, ReadStigmators);
}

// The reset has no reply body: status 0 on success and a bare header.
void ELCS(Message& message) {
  AnswerHeader(message, message.BodyU16<0>() == kLensResetRequest && sem_OLCLReset() == 1);
}

}  // namespace commands
}  // namespace vesk
