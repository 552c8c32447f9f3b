// Detector and signal family: the 15 detector items by group (DS, DR, DT,
// DC, DH, DU), relative contrast and brightness, all items at once, and the
// IMS value. The service passes every 16-bit value through unscaled; the
// library's result alone decides success.
#include "commands/detectors.h"

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

// Writes the group's reply: the slot of `echoed` carries the request's two
// bytes as sent, every other item is read back after the change.
template <std::size_t N>
void FillGroup(ReplyRecord<N>& reply, DetectorGroup group, int echoedSlot, const std::uint8_t* echo) {
  for (int slot = 0; slot < group.count; ++slot) {
    const std::size_t offset = static_cast<std::size_t>(slot) * 2;
    if (slot == echoedSlot) {
      reply.SetBytes(offset, echo, 2);
    } else {
      reply.U16At(offset, LowU16(sem_GetDetector(static_cast<std::int16_t>(group.first + slot))));
    }
  }
}

// The shared shape of every detector setter: one library call decides,
// then the group's reply (all zeros on refusal).
template <std::size_t N>
void AnswerGroup(Message& message, DetectorGroup group, int echoedSlot, bool accepted) {
  static_assert(N <= kMaxGroupReply);
  ReplyRecord<N> reply;
  if (accepted) FillGroup(reply, group, echoedSlot, message.Body());
  message.SetStatus(accepted ? static_cast<std::int16_t>(N) : kStatusFailed);
  reply.CommitTo(message);
}

template <std::size_t N>
void SetItem(Message& message, DetectorGroup group, DetectorItem item) {
  const std::int16_t value = message.BodyS16<0>();
  const bool accepted = sem_SetDetector(static_cast<std::int16_t>(item), value) == 1;
  AnswerGroup<N>(message, group, item - group.first, accepted);
}

constexpr std::size_t kImsReplySize = 28;

void AnswerIms(Message& message) {
  ReplyRecord<kImsReplySize> reply;
  reply.U16<20>(LowU16(sem_GetIms()));
  reply.CommitTo(message);
}

}  // namespace

namespace commands {

void DSCS(Message& m) { SetItem<4>(m, kDS, 0); }
void DSBS(Message& m) { SetItem<4>(m, kDS, 1); }
void DRCS(Message& m) { SetItem<4>(m, kDR, 2); }
void DRBS(Message& m) { SetItem<4>(m, kDR, 3); }
void DTGS(Message& m) { SetItem<4>(m, kDT, 4); }
void DTBS(Message& m) { SetItem<4>(m, kDT, 5); }
void DCGS(Message& m) { SetItem<6>(m, kDC, 6); }
void DCSS(Message& m) { SetItem<6>(m, kDC, 7); }
void DCBS(Message& m) { SetItem<6>(m, kDC, 8); }
void DHGS(Message& m) { SetItem<8>(m, kDH, 9); }
void DHSS(Message& m) { SetItem<8>(m, kDH, 10); }
void DHBS(Message& m) { SetItem<8>(m, kDH, 11); }
void DHLS(Message& m) { SetItem<8>(m, kDH, 12); }
void DUCS(Message& m) { SetItem<4>(m, kDU, 13); }
void DUBS(Message& m) { SetItem<4>(m, kDU, 14); }

// Relative contrast and brightness share the DS layout: the step as sent,
// then the brightness (item 1) read after the change.
void DSCD(Message& m) { AnswerGroup<4>(m, kDS, 0, sem_SetContRel(m.BodyS16<0>()) == 1); }
void DSBD(Message& m) { AnswerGroup<4>(m, kDS, 0, sem_SetBrtRel(m.BodyS16<0>()) == 1); }

void DDSR(Message& m) {
  ReplyRecord<kDetectorReadingsSize> reply;
  ReadDetectorItems<0>(reply);
  m.SetStatus(static_cast<std::int16_t>(kDetectorReadingsSize));
  reply.CommitTo(m);
}

// The IMS value travels at body offset 2; bytes 0-1 are not read.
void DWCS(Message& m) {
  const bool accepted = sem_SetIms(m.BodyS16<2>()) == 1;
  m.SetStatus(accepted ? static_cast<std::int16_t>(kImsReplySize) : kStatusFailed);
  AnswerIms(m);
}

void DWSR(Message& m) {
  m.SetStatus(static_cast<std::int16_t>(kImsReplySize));
  AnswerIms(m);
}

}  // namespace commands
}  // namespace vesk
