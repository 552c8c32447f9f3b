// Automatic-operation mode and instrument model: EAAR reports the library's
// automatic mode, EAAS starts one adjustment without waiting for it, PIST
// reports the instrument's model code.
#include "commands/instrument_model.h"
#include "commands/readings.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kWordReplySize = 2;

// EAAS selectors 1 to 7: the adjustment to start and the mode it needs
// first (no mode for contrast and brightness). Selector 0 starts nothing;
// larger selectors start nothing either but answer 1.
struct AutoAdjustment {
  std::int32_t(SEM_CALL* setMode)(std::int16_t);  // nullptr: no mode to set
  std::int16_t mode;
  std::int32_t(SEM_CALL* start)();
};

constexpr AutoAdjustment kAutoAdjustments[] = {
    {nullptr, 0, sem_StartACB},        // 1 contrast and brightness
    {sem_SetASDMode, 0, sem_StartASD},  // 2 stigmation, mode 0
    {sem_SetASDMode, 1, sem_StartASD},  // 3 stigmation, mode 1
    {sem_SetAFDMode, 0, sem_StartAFD},  // 4 focus, mode 0
    {sem_SetAFDMode, 1, sem_StartAFD},  // 5 focus, mode 1
    {sem_SetASDMode, 2, sem_StartASD},  // 6 stigmation, mode 2
    {sem_SetASDMode, 3, sem_StartASD},  // 7 stigmation, mode 3
};

void AnswerWord(Message& m, std::uint16_t value, std::int16_t status) {
  ReplyRecord<kWordReplySize> reply;
  reply.U16<0>(value);
  m.SetStatus(status);
  reply.CommitTo(m);
}

}  // namespace

namespace commands {

void EAAR(Message& m) { AnswerWord(m, LowU16(sem_GetAutoMode()), static_cast<std::int16_t>(kWordReplySize)); }

// The library's results are not examined: starting is all this command does.
void EAAS(Message& m) {
  const std::uint16_t selector = m.BodyU16<0>();
  if (selector >= 1 && selector <= std::size(kAutoAdjustments)) {
    const AutoAdjustment& adjustment = kAutoAdjustments[selector - 1];
    if (adjustment.setMode != nullptr) adjustment.setMode(adjustment.mode);
    adjustment.start();
  }
  AnswerWord(m, selector == 0 ? 0 : 1, static_cast<std::int16_t>(kWordReplySize));
}

// A type without a model leaves the request's two body bytes in place.
void PIST(Message& m) {
  const std::optional<std::uint16_t> model = ModelCodeForInstrumentType(InstrumentType());
  m.SetStatus(0);
  if (model.has_value()) {
    AnswerWord(m, *model, 0);
  } else {
    m.Finish(kWordReplySize);
  }
}

}  // namespace commands
}  // namespace vesk
