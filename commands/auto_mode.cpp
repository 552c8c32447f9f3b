// Automatic-operation mode and instrument model: EAAR reports the library's
// automatic mode, EAAS starts one adjustment without waiting for it, PIST
// reports the instrument's model code.
#include "commands/instrument_model.h"
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

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

}  // namespace

namespace commands {

void EAAR(Message& message) { AnswerRecord(message, true, Word(LowU16(sem_GetAutoMode()))); }

// The library's results are not examined: starting is all this command does.
void EAAS(Message& message) {
  const std::uint16_t selector = message.BodyU16<0>();
  if (selector >= 1 && selector <= std::size(kAutoAdjustments)) {
    const AutoAdjustment& adjustment = kAutoAdjustments[selector - 1];
    if (adjustment.setMode != nullptr) adjustment.setMode(adjustment.mode);
    adjustment.start();
  }
  AnswerRecord(message, true, Word(selector == 0 ? 0 : 1));
}

// A type without a model leaves the request's two body bytes in place.
void PIST(Message& message) {
  const std::optional<std::uint16_t> model = ModelCodeForInstrumentType(InstrumentType());
  if (model.has_value()) {
    AnswerRecord(message, true, Word(*model), OnSuccess::kZero);
  } else {
    AnswerEcho(message, true, sizeof(std::uint16_t));
  }
}

}  // namespace commands
}  // namespace vesk
