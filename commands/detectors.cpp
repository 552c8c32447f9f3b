// Detector and signal family: the 15 detector items by group (DS, DR, DT,
// DC, DH, DU), relative contrast and brightness, all items at once, and the
// IMS value. The service passes every 16-bit value through unscaled; the
// library's result alone decides success.
#include "commands/detectors.h"

#include "commands/reply.h"
#include "protocol/command_handlers.h"

namespace vesk {
namespace {

// A group's items are consecutive; its reply holds them in item order.
struct DetectorGroup {
  DetectorItem first;
  int count;
};

constexpr DetectorGroup kDS{0, 2};
constexpr DetectorGroup kDR{2, 2};
constexpr DetectorGroup kDT{4, 2};
constexpr DetectorGroup kDC{6, 3};
constexpr DetectorGroup kDH{9, 4};
constexpr DetectorGroup kDU{13, 2};

constexpr std::size_t kMaxGroupReply = 8;

// The group's reply after a change: the slot of `echoedSlot` carries the
// request's two bytes as sent, every other item is read back. All zeros
// when the change was refused.
template <std::size_t N>
ReplyRecord<N> GroupReply(bool accepted, DetectorGroup group, int echoedSlot, const std::uint8_t* echo) {
  static_assert(N <= kMaxGroupReply);
  ReplyRecord<N> reply;
  if (!accepted) return reply;
  for (int slot = 0; slot < group.count; ++slot) {
    const std::size_t offset = static_cast<std::size_t>(slot) * 2;
    if (slot == echoedSlot) {
      reply.SetBytes(offset, echo, 2);
    } else {
      reply.U16At(offset, LowU16(sem_GetDetector(static_cast<std::int16_t>(group.first + slot))));
    }
  }
  return reply;
}

// The shared shape of every detector setter: one library call decides,
// then the group's reply.
template <std::size_t N>
void SetItem(Message& message, DetectorGroup group, DetectorItem item) {
  const std::int16_t value = message.BodyS16<0>();
  const bool accepted = sem_SetDetector(static_cast<std::int16_t>(item), value) == 1;
  AnswerRecord(message, accepted, GroupReply<N>(accepted, group, item - group.first, message.Body()));
}

// Relative contrast and brightness share the DS layout: the step as sent,
// then the brightness (item 1) read after the change.
void StepDs(Message& message, std::int32_t(SEM_CALL* step)(std::int16_t)) {
  const bool accepted = step(message.BodyS16<0>()) == 1;
  AnswerRecord(message, accepted, GroupReply<4>(accepted, kDS, 0, message.Body()));
}

constexpr std::size_t kImsReplySize = 28;

ReplyRecord<kImsReplySize> ReadIms() { return WordRecord<kImsReplySize, 20>(LowU16(sem_GetIms())); }

}  // namespace

namespace commands {

void DSCS(Message& message) { SetItem<4>(message, kDS, 0); }
void DSBS(Message& message) { SetItem<4>(message, kDS, 1); }
void DRCS(Message& message) { SetItem<4>(message, kDR, 2); }
void DRBS(Message& message) { SetItem<4>(message, kDR, 3); }
void DTGS(Message& message) { SetItem<4>(message, kDT, 4); }
void DTBS(Message& message) { SetItem<4>(message, kDT, 5); }
void DCGS(Message& message) { SetItem<6>(message, kDC, 6); }
void DCSS(Message& message) { SetItem<6>(message, kDC, 7); }
void DCBS(Message& message) { SetItem<6>(message, kDC, 8); }
void DHGS(Message& message) { SetItem<8>(message, kDH, 9); }
void DHSS(Message& message) { SetItem<8>(message, kDH, 10); }
void DHBS(Message& message) { SetItem<8>(message, kDH, 11); }
void DHLS(Message& message) { SetItem<8>(message, kDH, 12); }
void DUCS(Message& message) { SetItem<4>(message, kDU, 13); }
void DUBS(Message& message) { SetItem<4>(message, kDU, 14); }

void DSCD(Message& message) { StepDs(message, sem_SetContRel); }
void DSBD(Message& message) { StepDs(message, sem_SetBrtRel); }

void DDSR(Message& message) {
  ReplyRecord<kDetectorReadingsSize> reply;
  ReadDetectorItems<0>(reply);
  AnswerRecord(message, true, reply);
}

// The IMS value travels at body offset 2; bytes 0-1 are not read.
void DWCS(Message& message) {
  const bool accepted = sem_SetIms(message.BodyS16<2>()) == 1;
  AnswerWith(message, accepted, ReadIms);
}

void DWSR(Message& message) { AnswerRecord(message, true, ReadIms()); }

}  // namespace commands
}  // namespace vesk
