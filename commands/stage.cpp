// Stage family: absolute and relative moves, stop, information and move
// status. Only the byte order is converted: positions, distances and the
// stage values keep the library's own units. Nothing here waits for the
// stage; clients follow a move with WSTR.
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kStageInfoReplySize = 50;
constexpr std::size_t kStageStatusReplySize = 22;
constexpr std::int16_t kMoving = 2;

// The request body is the wire form of StagePositionRecord: five axis
// words, then five WireFloat values.
StagePositionRecord PositionFromWire(const Message& message) {
  StagePositionRecord record{};
  const std::uint8_t* body = message.Body();
  for (int axis = 0; axis < kStageAxes; ++axis) {
    record.axisWord[axis] = ReadU16(body + 2 * axis);
    record.value[axis] = FloatFromWire(body + 10 + 4 * axis);
  }
  return record;
}

void Move(Message& message, std::int32_t(SEM_CALL* move)(StagePositionRecord*)) {
  StagePositionRecord record = PositionFromWire(message);
  AnswerHeader(message, move(&record) == 1);
}

StageInfoRecord ReadStageInfo() {
  StageInfoRecord info{};
  sem_GetStageInfo(&info);  // its result is not examined
  return info;
}

}  // namespace

namespace commands {

void WABS(Message& message) { Move(message, sem_SetStagePosAbs); }
void WRES(Message& message) { Move(message, sem_SetStagePosRel); }

// The second stop is made only when the first was accepted.
void WDSS(Message& message) {
  const bool stopped = sem_StopStage() == 1 && sem_StopStageR() == 1;
  AnswerHeader(message, stopped);
}

void WINR(Message& message) {
  const StageInfoRecord info = ReadStageInfo();
  ReplyRecord<kStageInfoReplySize> reply;
  for (std::size_t axis = 0; axis < kStageAxes; ++axis) {
    reply.U16At(2 * axis, (info.axisStatus[axis] & kAxisFlagMask) != 0 ? 1 : 0);
  }
  for (std::size_t i = 0; i < kStageValues; ++i) reply.FloatAt(10 + 4 * i, info.stageValue[i]);
  AnswerRecord(message, true, reply);
}

void WSTR(Message& message) {
  const StageInfoRecord info = ReadStageInfo();
  ReplyRecord<kStageStatusReplySize> reply;
  reply.S16<0>(Low16(sem_GetStageMoveStatus()) == 1 ? kMoving : 0);
  for (std::size_t axis = 0; axis < kStageAxes; ++axis) reply.FloatAt(2 + 4 * axis, info.position[axis]);
  AnswerRecord(message, true, reply);
}

}  // namespace commands
}  // namespace vesk
