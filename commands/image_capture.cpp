// Image capture family: the service never handles image data. For a
// capture it writes the save settings into the settings file, raises the
// library's image-data flag and asks the manager application to capture;
// the manager clears the flag when the image is saved. ISAV waits for that
// (at most about 180 s, holding DispatchLock); IFSS and IFFS return at once
// and the client polls IFSR.
#include <cstring>

#include "commands/readings.h"
#include "commands/reply.h"
#include "platform/profile.h"
#include "protocol/command_handlers.h"
#include "protocol/service_waits.h"
#include "protocol/wait_clock.h"
#include "scope/sem.h"
#include "server/diagnostics.h"

namespace vesk {
namespace {

constexpr char kSettingsSection[] = "FENKOR";
constexpr std::int32_t kCaptureRequest = 8192;
constexpr std::int16_t kFreezeRequest = 144;
constexpr std::int32_t kCaptureVariant1 = 1;
constexpr std::int32_t kCaptureVariant2 = 2;

constexpr std::size_t kSaveRequestSize = 268;  // include, format, 264-byte path
constexpr std::size_t kSavePathOffset = 4;
constexpr std::size_t kSavePathSize = 264;

// The capture wait: the flag is read every 10 ms for at most 180 s.

// ISAV format field: 2, 3, 4; any other value leaves "Format" as it was.
const char* SaveFormatName(std::uint16_t format) {
  switch (format) {
    case 2: return "BMP";
    case 3: return "TIFF";
    case 4: return "JPEG";
    default: return nullptr;
  }
}

// Each write sets one key of the section.
bool WriteSaveSetting(const char* key, const char* value) {
  return plat::WriteProfileValue(kSettingsSection, key, value, plat::ImageSaveSettingsPath()) == 1;
}

// The settings the manager reads for the capture; false, with the reason
// written, when they could not all be written: the manager would then save
// wherever an earlier request pointed, or not at all, so nothing is asked.
bool WriteCaptureSettings(const char* code, const char* include, const char* format, const char* path) {
  const bool written = WriteSaveSetting("Include", include) &&
                       (format == nullptr || WriteSaveSetting("Format", format)) && WriteSaveSetting("Path", path);
  if (!written) {
    ReportBoth("%s %s: not captured, the settings file %s cannot be written.\n", code, path,
               plat::ImageSaveSettingsPath());
  }
  return written;
}

// A path the settings file can hold: terminated within the request, and on
// one line (a line break would split the file's entry and leave the capture
// to go wherever the previous path pointed).
const char* SavePath(const char* text) {
  if (text == nullptr || std::strpbrk(text, "\r\n") != nullptr) return nullptr;
  return text;
}

bool CapturePending() { return Low16(sem_GetImageDataFlag()) != 0; }

// Polls fall due on a fixed 10 ms grid from the start, and the limit is the
// time passed, not a count of polls: a platform sleep coarser than 10 ms
// makes the polls fewer, never the wait longer.
// True when the capture finished within the wait.
bool WaitForCapture() {
  const WaitClock& clock = CurrentWaitClock();
  const std::uint32_t start = clock.tickCount();
  std::uint32_t elapsed = 0;
  do {
    const std::uint32_t due = (elapsed / service_waits::kCapturePollMs + 1) * service_waits::kCapturePollMs;
    elapsed = SleepUntil(clock, start, due);
    if (!CapturePending()) return true;
  } while (elapsed < service_waits::kCaptureMs);
  return false;
}

// IFSS and IFFS: refused while a capture is pending, and when the path
// is not one the settings file can hold.
void RequestCapture(Message& message, std::int32_t variant) {
  const char* path = SavePath(message.BodyText<0>());
  const char* code = variant == kCaptureVariant1 ? "IFSS" : "IFFS";
  const bool requested = !CapturePending() && path != nullptr && WriteCaptureSettings(code, "OFF", "BMP", path);
  if (requested) {
    sem_SetImageDataFlag(1);
    if (Low16(sem_GetScanSpeed()) == 0) sem_SetScanSpeed(1);
    sem_CallApp(variant, kCaptureRequest);
  }
  AnswerRecord(message, requested, Word(1));
}

}  // namespace

namespace commands {

// Answers with the request body; bytes beyond a short request are zeroed
// rather than left from an earlier message.
void ISAV(Message& message) {
  const std::size_t received = message.Length() > kHeaderSize ? message.Length() - kHeaderSize : 0;
  if (received < kSaveRequestSize) std::memset(message.Body() + received, 0, kSaveRequestSize - received);
  const char* path = SavePath(message.BodyText<kSavePathOffset>(kSavePathSize));
  if (path == nullptr) {
    // Without a path the settings can hold there is nothing safe to save to.
    AnswerEcho(message, false, kSaveRequestSize);
    return;
  }
  if (!WriteCaptureSettings("ISAV", message.BodyU16<0>() == 0 ? "ON" : "OFF", SaveFormatName(message.BodyU16<2>()),
                            path)) {
    AnswerEcho(message, false, kSaveRequestSize);
    return;
  }
  sem_SetImageDataFlag(1);
  sem_CallApp(kCaptureVariant1, kCaptureRequest);
  // A capture still pending when the wait ends was not made, as far as
  // anyone can tell: saying it was would lose the image silently.
  const bool finished = WaitForCapture();
  if (!finished) {
    ReportBoth("ISAV %s: capture not finished within %u s.\n", path,
               static_cast<unsigned>(service_waits::kCaptureMs / 1000));
  }
  AnswerEcho(message, finished, kSaveRequestSize);
}

void IFSS(Message& message) { RequestCapture(message, kCaptureVariant1); }
void IFFS(Message& message) { RequestCapture(message, kCaptureVariant2); }

void IFSR(Message& message) {
  AnswerRecord(message, true, Word(LowU16(sem_GetImageDataFlag())));
}

// -1 only reports; any other mode is set, and handed to the manager
// widened without sign.
void IFRZ(Message& message) {
  const std::int16_t mode = message.BodyS16<0>();
  if (mode != -1) {
    sem_SetFreezeEx(mode, 1);
    sem_CallApp(static_cast<std::int32_t>(static_cast<std::uint16_t>(mode)), kFreezeRequest);
  }
  AnswerRecord(message, true, Word(LowU16(sem_GetFreezeMode())), OnSuccess::kZero);
}

}  // namespace commands
}  // namespace vesk
