// Scan, panel and joystick family: scan speed, joystick, operation-panel
// steps, rotation angle, recipe loading and moving the image to a point.
#include "commands/readings.h"
#include "protocol/command_handlers.h"
#include "scope/sem.h"

namespace vesk {
namespace {

constexpr std::size_t kScanSpeedReplySize = 30;

// Operation-panel keys 11 to 22: relative steps in pairs, the odd code
// stepping forward and the even code backward. Y comes before X.
struct PanelStep {
  std::uint16_t code;
  std::int32_t(SEM_CALL* setter)(std::int16_t);
  bool negated;
};

constexpr PanelStep kPanelSteps[] = {
    {11, sem_SetBrtFineRel, false},   {12, sem_SetBrtFineRel, true},
    {13, sem_SetContFineRel, false},  {14, sem_SetContFineRel, true},
    {15, sem_SetStigYFineRel, false}, {16, sem_SetStigYFineRel, true},
    {17, sem_SetStigXFineRel, false}, {18, sem_SetStigXFineRel, true},
    {19, sem_SetMagRel, false},       {20, sem_SetMagRel, true},
    {21, sem_SetOLFineRel, false},    {22, sem_SetOLFineRel, true},
};

// Keys 100 to 103 select scan speeds 0 to 3.
constexpr std::uint16_t kFirstScanSpeedKey = 100;
constexpr std::uint16_t kLastScanSpeedKey = 103;

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;

// Hundredths of the frame to pixels: the division first, in double
// precision, then truncation toward zero.
std::int32_t FrameHundredthsToPixels(std::uint16_t hundredths, int frameSize) {
  return static_cast<std::int32_t>(static_cast<double>(hundredths) / 100.0 * frameSize);
}

std::uint16_t PanelAnswer(std::uint16_t code, std::int16_t second) {
  for (const PanelStep& step : kPanelSteps) {
    if (step.code == code) {
      step.setter(step.negated ? static_cast<std::int16_t>(-second) : second);
      return 0;
    }
  }
  if (code >= kFirstScanSpeedKey && code <= kLastScanSpeedKey) {
    const auto speed = static_cast<std::int16_t>(code - kFirstScanSpeedKey);
    if (second == 1) sem_SetScanSpeed(speed);
    return Low16(sem_GetScanSpeed()) == speed ? code : 0;
  }
  return 0;
}

}  // namespace

namespace commands {

// The reply body is 30 zero bytes whatever the outcome.
void DXRS(Message& m) {
  const bool accepted = sem_SetScanSpeed(m.BodyS16<0>()) == 1;
  m.SetStatus(accepted ? static_cast<std::int16_t>(kScanSpeedReplySize) : kStatusFailed);
  ReplyRecord<kScanSpeedReplySize>().CommitTo(m);
}

void WJOY(Message& m) {
  sem_StgJoystick(m.BodyS16<0>(), m.BodyS16<2>(), m.BodyS16<4>());
  m.SetStatus(0);
  m.Finish(0);
}

void PNEL(Message& m) {
  const std::uint16_t answer = PanelAnswer(m.BodyU16<0>(), m.BodyS16<2>());
  ReplyRecord<2> reply;
  reply.U16<0>(answer);
  m.SetStatus(0);
  reply.CommitTo(m);
}

// Whole degrees plus 180 on the wire; tenths of a degree in the library.
// The body is not written: the requested value comes back.
void ERAS(Message& m) {
  const std::int32_t tenths = (static_cast<std::int32_t>(m.BodyU16<0>()) - 180) * 10;
  const bool accepted = sem_SetRrdAngleAbs(static_cast<std::int16_t>(tenths)) == 1;
  m.SetStatus(accepted ? 0 : kStatusFailed);
  m.Finish(2);
}

// The name must end within the received body; one that does not is
// refused without reaching the library.
void XRFX(Message& m) {
  const char* name = m.BodyText<0>();
  const bool accepted = name != nullptr && sem_LoadRecipeFileEx(name, 0, 1, 1) == 1;
  m.SetStatus(accepted ? 0 : kStatusFailed);
  m.Finish(0);
}

void WSCS(Message& m) {
  ImageMoveRecord move{kFrameWidth, kFrameHeight, FrameHundredthsToPixels(m.BodyU16<0>(), kFrameWidth),
                       FrameHundredthsToPixels(m.BodyU16<2>(), kFrameHeight)};
  sem_MoveImage(0, &move);
  m.SetStatus(0);
  m.Finish(0);
}

}  // namespace commands
}  // namespace vesk
