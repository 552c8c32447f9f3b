// Scan, panel and joystick family: scan speed, joystick, operation-panel
// steps, rotation angle, recipe loading and moving the image to a point.
#include "commands/readings.h"
#include "commands/reply.h"
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
void DXRS(Message& message) {
  const bool accepted = sem_SetScanSpeed(message.BodyS16<0>()) == 1;
  AnswerRecord(message, accepted, ReplyRecord<kScanSpeedReplySize>());
}

void WJOY(Message& message) {
  sem_StgJoystick(message.BodyS16<0>(), message.BodyS16<2>(), message.BodyS16<4>());
  AnswerHeader(message, true);
}

void PNEL(Message& message) {
  const std::uint16_t answer = PanelAnswer(message.BodyU16<0>(), message.BodyS16<2>());
  AnswerRecord(message, true, Word(answer), OnSuccess::kZero);
}

// Whole degrees plus 180 on the wire; tenths of a degree in the library.
// The body is not written: the requested value comes back.
void ERAS(Message& message) {
  const std::int32_t tenths = (static_cast<std::int32_t>(message.BodyU16<0>()) - 180) * 10;
  const bool accepted = sem_SetRrdAngleAbs(static_cast<std::int16_t>(tenths)) == 1;
  AnswerEcho(message, accepted, sizeof(std::uint16_t));
}

// The name must end within the received body; one that does not is
// refused without reaching the library.
void XRFX(Message& message) {
  const char* name = message.BodyText<0>();
  const bool accepted = name != nullptr && sem_LoadRecipeFileEx(name, 0, 1, 1) == 1;
  AnswerHeader(message, accepted);
}

void WSCS(Message& message) {
  ImageMoveRecord move{kFrameWidth, kFrameHeight, FrameHundredthsToPixels(message.BodyU16<0>(), kFrameWidth),
                       FrameHundredthsToPixels(message.BodyU16<2>(), kFrameHeight)};
  sem_MoveImage(0, &move);
  AnswerHeader(message, true);
}

}  // namespace commands
}  // namespace vesk
