// Vacuum and pressure family: all four answer with the VacuumStatusRecord
// read fresh from the library on success; on failure the body is left as
// received and carries no readings.
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "protocol/service_waits.h"
#include "protocol/wait_clock.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kVacuumStatusSize = 10;
constexpr std::int16_t kManualAdjustment = 0;
constexpr std::int16_t kAutomaticAdjustment = 1;
constexpr std::int16_t kLowPressureInstrumentType = 12;

ReplyRecord<kVacuumStatusSize> ReadVacuumStatus() {
  ReplyRecord<kVacuumStatusSize> record;
  record.U16<0>(LowU16(sem_GetVacuumMode()));
  record.U16<2>(LowU16(sem_GetPressureManual()));
  record.U16<4>(LowU16(sem_GetOrificeDiam()));
  record.U16<6>(LowU16(sem_GetPressureAdjMode()));
  record.U16<8>(LowU16(sem_GetArrivalPressure()));
  return record;
}

// Manual pressure: -1, 0 or 1. The switch to manual adjustment stays in
// effect when the value is then refused.
bool SetManualPressure(std::int16_t value) {
  if (value <= -2 || value >= 2) return false;
  sem_SetPressureAdjMode(kManualAdjustment);
  SleepFor(service_waits::kPressureSettleMs);
  return sem_SetPressureManual(value) == 1;
}

// Automatic pressure target: 1 to 270, 1 to 100 on instrument type 12.
bool SearchPressure(std::int16_t target) {
  if (Low16(sem_GetSemType()) == kLowPressureInstrumentType && (target < 0 || target > 100)) return false;
  if (target <= 0 || target >= 271) return false;
  sem_SetPressureAdjMode(kAutomaticAdjustment);
  SleepFor(service_waits::kPressureSettleMs);
  if (sem_SetPressureAuto(target) != 1) return false;
  SleepFor(service_waits::kPressureSettleMs);
  return sem_StartSearch() == 1;
}

}  // namespace

namespace commands {

void FLVR(Message& message) { AnswerRecord(message, true, ReadVacuumStatus()); }
void FVMS(Message& message) {
  AnswerReadings(message, sem_SetVacuumMode(message.BodyS16<0>()) == 1, ReadVacuumStatus);
}
void FPMS(Message& message) { AnswerReadings(message, SetManualPressure(message.BodyS16<0>()), ReadVacuumStatus); }
void FPAS(Message& message) { AnswerReadings(message, SearchPressure(message.BodyS16<0>()), ReadVacuumStatus); }

}  // namespace commands
}  // namespace vesk
