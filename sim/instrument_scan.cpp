// Stage, vacuum, scan, freeze, recipe and image move, and the manager
// application's captures.
#include <cmath>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "sim/text.h"
#include "sim/image_paths.h"
#include "sim/instrument.h"
#include "sim/optics.h"
#include "sim/profile_file.h"
#include "sim/ranges.h"

namespace vesk::sim {
namespace {

// The manager application's requests through sem_CallApp.
constexpr std::int16_t kCaptureRequest = 8192;
constexpr std::int16_t kFreezeRequest = 144;

// Capture time per scan speed (0 fastest, 3 slowest) at a time scale of 1,
// and the relative dwell per pixel that goes with it. Variant 2 integrates
// two frames; a frozen image is only saved from the frame memory.
constexpr double kCaptureMs[] = {500.0, 2000.0, 8000.0, 32000.0};
constexpr double kDwell[] = {1.0, 4.0, 16.0, 64.0};
constexpr double kFrozenSaveMs = 300.0;

constexpr std::size_t kLongestRecipeName = 128;

// A recipe name as the instrument's file dialog would accept it.
bool PlausibleRecipeName(std::string_view name) {
  if (name.empty() || name.size() > kLongestRecipeName) return false;
  bool visible = false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || std::string_view("<>\"|?*").find(c) != std::string_view::npos) return false;
    visible = visible || c != ' ';
  }
  return visible;
}

std::string Describe(const Scene& scene) {
  return "VESK simulated SEM image: " + std::to_string(scene.volts) + " V, x" +
         std::to_string(scene.magnification) + ", WD " + std::to_string(scene.workingDistanceTenths / 10) + "." +
         std::to_string(scene.workingDistanceTenths % 10) + " mm";
}

}  // namespace

// ---- Stage ----

std::int32_t SimulatedInstrument::SetStagePosAbs(StagePositionRecord* target) {
  return target != nullptr && stage_.MoveAbsolute(*target, now_, setup_.timeScale) ? 1 : 0;
}
std::int32_t SimulatedInstrument::SetStagePosRel(StagePositionRecord* distance) {
  return distance != nullptr && stage_.MoveRelative(*distance, now_, setup_.timeScale) ? 1 : 0;
}
std::int32_t SimulatedInstrument::StopStage() {
  stage_.StopLinearAndTilt(now_);
  return 1;
}
std::int32_t SimulatedInstrument::StopStageR() {
  stage_.StopRotation(now_);
  return 1;
}
std::int32_t SimulatedInstrument::GetStageInfo(StageInfoRecord* info) {
  if (info == nullptr) return 0;
  StageInfoRecord filled{};
  stage_.FillInfo(filled, now_);
  *info = filled;
  return 1;
}
std::int32_t SimulatedInstrument::GetStageMoveStatus() { return stage_.Moving(now_) ? 1 : 0; }
std::int32_t SimulatedInstrument::StgJoystick(std::int16_t first, std::int16_t second, std::int16_t third) {
  return stage_.Joystick(first, second, third, now_, setup_.timeScale) ? 1 : 0;
}

// ---- Vacuum and pressure ----

std::int32_t SimulatedInstrument::GetVacuumMode() { return vacuum_.Mode(); }
std::int32_t SimulatedInstrument::SetVacuumMode(std::int16_t mode) {
  if (!vacuum_.SetMode(mode, now_, setup_.timeScale)) return 0;
  TripUnlessVacuumReady();
  return 1;
}
std::int32_t SimulatedInstrument::GetPressureManual() { return vacuum_.ManualStep(); }
std::int32_t SimulatedInstrument::SetPressureManual(std::int16_t value) {
  return vacuum_.SetManualStep(value, TargetPressureRange(), now_, setup_.timeScale) ? 1 : 0;
}
std::int32_t SimulatedInstrument::GetOrificeDiam() { return Vacuum::kOrificeDiameterUm; }
std::int32_t SimulatedInstrument::GetPressureAdjMode() { return vacuum_.Adjustment(); }
std::int32_t SimulatedInstrument::SetPressureAdjMode(std::int16_t mode) {
  return vacuum_.SetAdjustment(mode, now_) ? 1 : 0;
}
std::int32_t SimulatedInstrument::GetArrivalPressure() { return vacuum_.ArrivalPressure(now_); }
std::int32_t SimulatedInstrument::SetPressureAuto(std::int16_t target) {
  return vacuum_.SetTarget(target, TargetPressureRange()) ? 1 : 0;
}
std::int32_t SimulatedInstrument::StartSearch() { return vacuum_.StartSearch(now_, setup_.timeScale) ? 1 : 0; }

// ---- Scan, freeze, recipe, image move ----

std::int32_t SimulatedInstrument::GetScanSpeed() { return scanSpeed_; }
std::int32_t SimulatedInstrument::SetScanSpeed(std::int16_t speed) {
  if (!ranges::kScanSpeed.Contains(speed)) return 0;
  scanSpeed_ = speed;
  return 1;
}

std::int32_t SimulatedInstrument::GetFreezeMode() { return freeze_; }

// 0 live, 1 frozen; the kind is the library's and is not examined.
std::int32_t SimulatedInstrument::SetFreezeEx(std::int16_t mode, std::int16_t) {
  if (!ranges::kSwitch.Contains(mode)) return 0;
  SetFreeze(mode);
  return 1;
}

// Freezing keeps the frame being scanned; captures then save that frame.
void SimulatedInstrument::SetFreeze(std::int32_t mode) {
  if (mode == 1 && freeze_ == 0) {
    ++frames_;
    frozenScene_ = SceneNow(kDwell[scanSpeed_]);
  } else if (mode == 0) {
    frozenScene_.reset();
  }
  freeze_ = mode;
}

std::int32_t SimulatedInstrument::LoadRecipeFileEx(const char* name, std::int16_t, std::int16_t, std::int16_t) {
  if (name == nullptr) return 0;
  std::size_t length = 0;
  while (length <= kLongestRecipeName && name[length] != '\0') ++length;  // never past the limit
  const std::string_view text(name, length);
  if (!PlausibleRecipeName(text)) return 0;
  recipe_ = text;
  return 1;
}

// Kind 0 brings the given point of a frame to the centre with the fine image
// shift, as far as its range allows.
std::int32_t SimulatedInstrument::MoveImage(std::int16_t kind, ImageMoveRecord* move) {
  if (move == nullptr || kind != 0 || move->frameWidth <= 0 || move->frameHeight <= 0) return 0;
  const double fieldWidthUm = FieldWidthUm(magnification_);
  const double fieldHeightUm = fieldWidthUm * kFrameHeight / kFrameWidth;
  const double dxUm = (move->x - move->frameWidth / 2.0) * fieldWidthUm / move->frameWidth;
  const double dyUm = (move->y - move->frameHeight / 2.0) * fieldHeightUm / move->frameHeight;
  const double rawPerUm = FineShiftCentre() / kFineShiftReachUm;
  const Range& range = FineShiftRange();
  fineShift_[0] = range.Clamp(fineShift_[0] + std::llround(dxUm * rawPerUm));
  fineShift_[1] = range.Clamp(fineShift_[1] + std::llround(dyUm * rawPerUm));
  return 1;
}

// ---- Manager application: captures ----

std::int32_t SimulatedInstrument::GetImageDataFlag() { return imageDataFlag_; }
std::int32_t SimulatedInstrument::SetImageDataFlag(std::int16_t flag) {
  imageDataFlag_ = flag;
  return 1;
}

std::int32_t SimulatedInstrument::CallApp(std::int32_t request, std::int16_t kind) {
  if (kind == kCaptureRequest && (request == 1 || request == 2)) return StartCapture(request);
  if (kind == kFreezeRequest) {
    if (ranges::kSwitch.Contains(request)) SetFreeze(request);
    return 1;
  }
  return 0;
}

double SimulatedInstrument::CaptureDwell(std::int32_t variant) const {
  return kDwell[scanSpeed_] * (variant == 2 ? 2.0 : 1.0);
}

// One frame takes as long as a plain capture.
std::int64_t SimulatedInstrument::FrameMs() const { return Scaled(kCaptureMs[scanSpeed_]); }

// The manager reads the save settings when asked, as the service has just
// written them, and saves when the scan is done.
std::int32_t SimulatedInstrument::StartCapture(std::int32_t variant) {
  if (capture_) return 0;
  CaptureJob job;
  job.variant = variant;
  job.include = ReadProfileString(setup_.settingsFile, "FENKOR", "Include").value_or("OFF");
  job.format = ReadProfileString(setup_.settingsFile, "FENKOR", "Format").value_or("BMP");
  job.path = ReadProfileString(setup_.settingsFile, "FENKOR", "Path").value_or("");
  job.dwell = CaptureDwell(variant);
  const double ms = freeze_ == 1 ? kFrozenSaveMs : kCaptureMs[scanSpeed_] * (variant == 2 ? 2.0 : 1.0);
  job.due = now_ + Scaled(ms);
  capture_ = std::move(job);
  return 1;
}

void SimulatedInstrument::CompleteCapture() {
  const CaptureJob job = std::move(*capture_);
  capture_.reset();
  Scene scene;
  if (freeze_ == 1 && frozenScene_) {
    scene = *frozenScene_;
  } else {
    ++frames_;
    scene = SceneNow(job.dwell);
  }
  GreyImage image;
  if (!setup_.placeholderCaptures) image = RenderScene(scene);
  if (!setup_.placeholderCaptures && SameName(job.include, "ON")) image = WithDataBar(image, scene);
  CaptureRecord record;
  record.number = ++captures_;
  record.requestedPath = job.path;
  record.format = FormatFromSetting(job.format);
  record.width = image.width;
  record.height = image.height;
  const char* refusal = nullptr;
  if (const std::optional<std::filesystem::path> relative = MapControlPcPath(job.path, &refusal)) {
    record.file = setup_.imageFolder / *relative;
    const auto bytes = setup_.placeholderCaptures ? std::optional(std::vector<std::uint8_t>{'V', 'E', 'S', 'K'})
                                                  : Encode(image, record.format, Describe(scene));
    record.written = bytes && WriteConfined(setup_.imageFolder, *relative, *bytes);
    if (!bytes) refusal = "the format cannot be written";
    if (bytes && !record.written) refusal = "a link or a file stands in its way, or the folder cannot be written";
  }
  // As the manager application's save would fail: nothing is written, and
  // the reason is said once.
  if (!record.written) {
    plat::Platform().writeStandardError(
        ("simulated manager: capture " + std::to_string(record.number) + " to " + job.path + " not saved: " +
         (refusal != nullptr ? refusal : "unknown reason") + ".\n")
            .c_str());
  }
  lastCapture_ = std::move(record);
  imageDataFlag_ = 0;
}

}  // namespace vesk::sim
