// Gun alignment family: EGSS and EGTS set the gun shift and tilt, EGAS starts
// the automatic gun alignment and returns at once, EGAR reports whether it is
// still running. The client polls; the service never waits here.
#include "commands/command_steps.h"
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kGunAlignmentReplySize = 8;
constexpr std::size_t kGunAlignmentStateReplySize = 10;

using GunAlignmentReply = ReplyRecord<kGunAlignmentReplySize>;
using GunAlignmentStateReply = ReplyRecord<kGunAlignmentStateReplySize>;

// Automatic gun alignment state on the wire.
constexpr std::uint16_t kAlignmentIdle = 0;
constexpr std::uint16_t kAlignmentRunning = 2;

// The four channels in the order tilt X, tilt Y, shift X, shift Y, starting
// at body offset Base.
template <std::size_t Base, std::size_t N>
void WriteGunAlignment(ReplyRecord<N>& reply, const GunAlignment& gun) {
  reply.template S16<Base>(gun.tiltX);
  reply.template S16<Base + 2>(gun.tiltY);
  reply.template S16<Base + 4>(gun.shiftX);
  reply.template S16<Base + 6>(gun.shiftY);
}

GunAlignmentReply ReadGunAlignmentReply() {
  GunAlignmentReply reply;
  WriteGunAlignment<0>(reply, ReadGunAlignment());
  return reply;
}

GunAlignmentStateReply ReadGunAlignmentState(std::uint16_t state) {
  GunAlignmentStateReply reply;
  reply.U16<0>(state);
  WriteGunAlignment<2>(reply, ReadGunAlignment());
  return reply;
}

void SetGunPair(Message& message, AxisSetter setX, AxisSetter setY) {
  const bool accepted =
      SetCentredPair(message.BodyS16<0>(), message.BodyS16<2>(), kGunAlignmentScale, setX, setY);
  AnswerWith(message, accepted, ReadGunAlignmentReply);
}

}  // namespace

namespace commands {

void EGSS(Message& message) { SetGunPair(message, sem_SetGunAlinShiftXAbs, sem_SetGunAlinShiftYAbs); }
void EGTS(Message& message) { SetGunPair(message, sem_SetGunAlinTiltXAbs, sem_SetGunAlinTiltYAbs); }

// The reply reports the idle state even though the run has just started. A
// refused start leaves the body bytes as the buffer held them: no readings.
void EGAS(Message& message) {
  AnswerReadings(message, sem_StartAGA() == 1, [] { return ReadGunAlignmentState(kAlignmentIdle); });
}

// Any non-zero library state counts as running. EGAR cannot fail.
void EGAR(Message& message) {
  const std::uint16_t state = Low16(sem_GetAGA()) != 0 ? kAlignmentRunning : kAlignmentIdle;
  AnswerRecord(message, true, ReadGunAlignmentState(state));
}

}  // namespace commands
}  // namespace vesk
