// Optics snapshot family: EXSR reads the 114-byte OpticsSnapshot, EXAS first
// blanks or unblanks the beam and then reads the same snapshot, so that the
// client sees the blanking actually in force.
#include "commands/instrument_model.h"
#include "commands/readings.h"
#include "commands/reply.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kOpticsSnapshotSize = 114;
using OpticsSnapshot = ReplyRecord<kOpticsSnapshotSize>;

constexpr std::int16_t kBlankRequest = -1;  // EXAS: any other value unblanks
constexpr std::int16_t kBlankedOnWire = -1;
constexpr std::int16_t kDegreesPerTurn = 360;

// The rotation angle in whole degrees, 0 .. 359; 0 while rotation is off.
// The library reports tenths of a degree within one turn either way; the
// remainder also keeps a reading beyond one turn within 0 .. 359.
std::uint16_t RotationDegrees() {
  if (Low16(sem_GetRrd()) != 1) return 0;
  const int degrees = Low16(sem_GetRrdAngle()) / 10 % kDegreesPerTurn;  // truncated toward zero
  return static_cast<std::uint16_t>(degrees < 0 ? degrees + kDegreesPerTurn : degrees);
}

// Read field by field in the order of the record.
OpticsSnapshot ReadOpticsSnapshot() {
  OpticsSnapshot snapshot;
  snapshot.Float<6>(AcceleratingVoltageKilovolts());
  const float workingDistance = WorkingDistanceMillimetres();
  snapshot.Float<14>(workingDistance);
  snapshot.S16<18>(Low16(sem_GetBeamBlank()) == 1 ? kBlankedOnWire : 0);
  const GunAlignment gun = ReadGunAlignment();
  snapshot.S16<20>(gun.tiltX);
  snapshot.S16<22>(gun.tiltY);
  snapshot.S16<24>(gun.shiftX);
  snapshot.S16<26>(gun.shiftY);
  snapshot.U16<32>(LowU16(sem_GetCL()));
  const std::uint16_t coarse = LowU16(sem_GetOLCrs());
  const std::uint16_t fine = LowU16(sem_GetOLFine());
  snapshot.U16<44>(coarse);
  snapshot.U16<46>(fine);
  snapshot.U32<48>(CombinedObjectiveValue(coarse, fine));
  snapshot.S16<54>(StigmatorX());
  snapshot.S16<56>(StigmatorY());
  snapshot.U16<72>(RotationDegrees());
  const std::int16_t instrumentType = InstrumentType();
  const CentredScale fineShift = FineShiftScaleFor(instrumentType);
  snapshot.S16<74>(Centred(sem_GetFineShiftX(), fineShift));
  snapshot.S16<76>(Centred(sem_GetFineShiftY(), fineShift));
  snapshot.U32<86>(static_cast<std::uint32_t>(sem_GetMag()));
  const InstrumentModelCode model = InstrumentModelCodeFor(instrumentType);
  snapshot.Bytes<106, 4>(model.data());
  snapshot.Float<110>(workingDistance);  // the same reading again
  return snapshot;
}

}  // namespace

namespace commands {

void EXSR(Message& message) { AnswerWith(message, true, ReadOpticsSnapshot); }

void EXAS(Message& message) {
  const std::int16_t blanked = message.BodyS16<0>() == kBlankRequest ? 1 : 0;
  const bool accepted = sem_SetBeamBlank(blanked) == 1;
  AnswerWith(message, accepted, ReadOpticsSnapshot);
}

}  // namespace commands
}  // namespace vesk
