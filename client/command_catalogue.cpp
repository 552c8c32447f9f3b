// The command catalogue's field layouts. The reply layouts are those that the
// handlers in commands/ write; tests/unit/command_catalogue_test.cpp checks
// the two against each other.
#include "client/command_catalogue.h"

#include <iterator>

namespace vesk::client {
namespace {

constexpr FieldType S16 = FieldType::kS16;
constexpr FieldType U16 = FieldType::kU16;
constexpr FieldType S32 = FieldType::kS32;
constexpr FieldType U32 = FieldType::kU32;
constexpr FieldType F32 = FieldType::kF32;
constexpr FieldType BCD = FieldType::kBcd16;
constexpr FieldType TEXT = FieldType::kText;

constexpr SuccessStatus kSize = SuccessStatus::kBodySize;
constexpr SuccessStatus kZero = SuccessStatus::kZero;
constexpr SuccessStatus kUnchanged = SuccessStatus::kUnchanged;

constexpr FailureBody kCannotFail = FailureBody::kCannotFail;
constexpr FailureBody kReadings = FailureBody::kReadings;
constexpr FailureBody kAsOnSuccess = FailureBody::kAsOnSuccess;
constexpr FailureBody kZeros = FailureBody::kZeros;
constexpr FailureBody kNotWritten = FailureBody::kNotWritten;
constexpr FailureBody kNoBody = FailureBody::kNoBody;

constexpr std::span<const Field> kNone{};

// A command's fields and the shape of its answers, as CommandInfo has them.
struct CommandLayout {
  std::span<const Field> request;
  std::uint16_t replySize;
  std::span<const Field> reply;
  SuccessStatus success;
  FailureBody failureBody;
  const char* failsWhen;
  const char* note = "";
};

constexpr const char kPassed[] = "passed to the library unchanged";
constexpr const char kStigmator[] = "raw - 2048";
constexpr const char kGun[] = "raw - 128";
constexpr const char kFineShift[] = "raw - 2048 (raw - 655 on instrument type 1)";
constexpr const char kCombined[] = "coarse * 4096 + fine";
constexpr const char kLibraryUnit[] = "in the library's own unit";
constexpr const char kEchoed[] = "the request's two bytes as sent";
constexpr const char kFailsWhenRefused[] = "when the library refuses";

// ---- Request layouts ----

constexpr Field kAcceleratingVoltageRequest[] = {
    {"acceleratingVoltage", 0, F32, "kV",
     "clamped to 0.3 .. 30 kV and snapped to the nearest of 55 steps, ties upward; instrument type 12 "
     "refuses outside 0.5 .. 20 kV"},
};
constexpr Field kHighVoltageSwitchRequest[] = {
    {"highVoltage", 0, S16, "", "1 switches on, 0 off; passed to the library unchanged"}};
constexpr Field kCondenserRequest[] = {{"condenserLens", 0, U16, "", "raw", ValueRange{0, 4095}}};
constexpr Field kCondenserWideRequest[] = {{"condenserLens", 0, U16, "", "raw", ValueRange{0, 9999}}};
constexpr Field kObjectiveCoarseRequest[] = {{"objectiveCoarse", 0, U16, "", "raw", ValueRange{0, 4095}}};
constexpr Field kObjectiveFineRequest[] = {{"objectiveFine", 0, U16, "", "raw", ValueRange{0, 4095}}};
constexpr Field kWorkingDistanceRequest[] = {
    {"workingDistance", 0, F32, "mm", "the library gets whole millimetres (47.9 sets 47)", ValueRange{5, 48}},
};
constexpr Field kStigmatorRequest[] = {
    {"stigmatorX", 0, S16, "", kStigmator, ValueRange{-2048, 2047}},
    {"stigmatorY", 2, S16, "", "raw - 2048; set only after X was accepted", ValueRange{-2048, 2047}},
};
constexpr Field kMagnificationRequest[] = {
    {"magnification", 0, S32, "",
     "snapped to the nearest of 149 steps from 5 to 300000, ties upward; instrument type 12 refuses "
     "below 8"},
};
constexpr Field kRelativeRequest[] = {{"amount", 0, S16, "", "relative change, passed to the library unchanged"}};
constexpr Field kLensResetRequest[] = {{"resetRequest", 0, U16, "", "asks for the reset", ValueRange{2, 2}}};
constexpr Field kBlankingRequest[] = {{"blank", 0, S16, "", "-1 blanks the beam, any other value unblanks it"}};
constexpr Field kPcdModeRequest[] = {
    {"pcdMode", 0, S16, "", "set only while the PCD reports ready; passed to the library unchanged"}};
constexpr Field kAbsoluteMoveRequest[] = {
    {"axisWord1", 0, U16, "", kPassed},       {"axisWord2", 2, U16, "", kPassed},
    {"axisWord3", 4, U16, "", kPassed},       {"axisWord4", 6, U16, "", kPassed},
    {"axisWord5", 8, U16, "", kPassed},       {"position1", 10, F32, "", kLibraryUnit},
    {"position2", 14, F32, "", kLibraryUnit}, {"position3", 18, F32, "", kLibraryUnit},
    {"position4", 22, F32, "", kLibraryUnit}, {"position5", 26, F32, "", kLibraryUnit},
};
constexpr Field kRelativeMoveRequest[] = {
    {"axisWord1", 0, U16, "", kPassed},       {"axisWord2", 2, U16, "", kPassed},
    {"axisWord3", 4, U16, "", kPassed},       {"axisWord4", 6, U16, "", kPassed},
    {"axisWord5", 8, U16, "", kPassed},       {"distance1", 10, F32, "", kLibraryUnit},
    {"distance2", 14, F32, "", kLibraryUnit}, {"distance3", 18, F32, "", kLibraryUnit},
    {"distance4", 22, F32, "", kLibraryUnit}, {"distance5", 26, F32, "", kLibraryUnit},
};

// Detector setters: one item's new value, passed to the library unchanged.
constexpr Field kContrastRequest[] = {{"contrast", 0, U16, "", "detector item 0; passed to the library unchanged"}};
constexpr Field kBrightnessRequest[] = {{"brightness", 0, U16, "", "detector item 1; passed to the library unchanged"}};
constexpr Field kItem2Request[] = {{"item2", 0, U16, "", kPassed}};
constexpr Field kItem3Request[] = {{"item3", 0, U16, "", kPassed}};
constexpr Field kItem4Request[] = {{"item4", 0, U16, "", kPassed}};
constexpr Field kItem5Request[] = {{"item5", 0, U16, "", kPassed}};
constexpr Field kItem6Request[] = {{"item6", 0, U16, "", kPassed}};
constexpr Field kItem7Request[] = {{"item7", 0, U16, "", kPassed}};
constexpr Field kItem8Request[] = {{"item8", 0, U16, "", kPassed}};
constexpr Field kItem9Request[] = {{"item9", 0, U16, "", kPassed}};
constexpr Field kItem10Request[] = {{"item10", 0, U16, "", kPassed}};
constexpr Field kItem11Request[] = {{"item11", 0, U16, "", kPassed}};
constexpr Field kItem12Request[] = {{"item12", 0, U16, "", kPassed}};
constexpr Field kItem13Request[] = {{"item13", 0, U16, "", kPassed}};
constexpr Field kItem14Request[] = {{"item14", 0, U16, "", kPassed}};
constexpr Field kStepRequest[] = {{"step", 0, S16, "", "relative step, passed to the library unchanged"}};
constexpr Field kImsRequest[] = {{"imsValue", 2, U16, "", "bytes 0-1 are not read; passed to the library unchanged"}};

constexpr Field kCapturePathRequest[] = {
    {"path", 0, TEXT, "", "where the image is saved, on the instrument's computer"}};
constexpr Field kAutoSelectorRequest[] = {
    {"selector", 0, U16, "",
     "0 nothing; 1 contrast and brightness; 2, 3, 6, 7 stigmation in mode 0, 1, 2, 3; 4, 5 focus in "
     "mode 0, 1; 8 and above nothing"},
};
constexpr Field kFineShiftRequest[] = {
    {"fineShiftX", 0, S16, "", "raw - 2048; -655 .. 655 on instrument type 1", ValueRange{-2048, 2047}},
    {"fineShiftY", 2, S16, "", "as X; set only after X was accepted", ValueRange{-2048, 2047}},
};
constexpr Field kGunShiftRequest[] = {
    {"gunShiftX", 0, S16, "", kGun, ValueRange{-128, 127}},
    {"gunShiftY", 2, S16, "", "raw - 128; set only after X was accepted", ValueRange{-128, 127}},
};
constexpr Field kGunTiltRequest[] = {
    {"gunTiltX", 0, S16, "", kGun, ValueRange{-128, 127}},
    {"gunTiltY", 2, S16, "", "raw - 128; set only after X was accepted", ValueRange{-128, 127}},
};
constexpr Field kScanSpeedRequest[] = {{"scanSpeed", 0, S16, "", kPassed}};
constexpr Field kJoystickRequest[] = {
    {"joystick1", 0, S16, "", "first argument of the library's joystick call"},
    {"joystick2", 2, S16, "", "second argument"},
    {"joystick3", 4, S16, "", "third argument"},
};
constexpr Field kSaveRequest[] = {
    {"include", 0, U16, "", "0 writes Include=ON, any other value OFF"},
    {"format", 2, U16, "", "2 BMP, 3 TIFF, 4 JPEG; any other value keeps the format last written"},
    {"path", 4, TEXT, "", "where the image is saved, on the instrument's computer", std::nullopt, 264},
};
constexpr Field kPanelRequest[] = {
    {"key", 0, U16, "",
     "11 .. 22: relative steps, odd +step, even -step (11/12 brightness, 13/14 contrast, 15/16 "
     "stigmator Y, 17/18 stigmator X, 19/20 magnification, 21/22 fine focus); 100 .. 103: scan speed 0 .. 3; "
     "other keys do nothing"},
    {"step", 2, S16, "",
     "the step for keys 11 .. 22; for keys 100 .. 103, 1 sets the speed, any other value only reports"},
};
constexpr Field kFreezeRequest[] = {{"freezeMode", 0, S16, "", "-1 only reports; any other value is set"}};
constexpr Field kRotationRequest[] = {
    {"angle", 0, U16, "", "whole degrees + 180: 0 .. 360 stand for -180 .. +180 degrees; not range-checked"},
};
constexpr Field kVacuumModeRequest[] = {{"vacuumMode", 0, S16, "", kPassed}};
constexpr Field kManualPressureRequest[] = {
    {"manualPressure", 0, S16, "", "switches the adjustment to manual first", ValueRange{-1, 1}},
};
constexpr Field kTargetPressureRequest[] = {
    {"targetPressure", 0, S16, "", "1 .. 100 on instrument type 12", ValueRange{1, 270}},
};
constexpr Field kRecipeRequest[] = {{"recipe", 0, TEXT, "", "recipe file name"}};
constexpr Field kImagePointRequest[] = {
    {"x", 0, U16, "", "hundredths of the frame width (640 pixels); above 100 lies outside the frame"},
    {"y", 2, U16, "", "hundredths of the frame height (480 pixels)"},
};

// ---- Reply layouts ----

constexpr Field kHighVoltageReply[] = {
    {"htState", 2, S16, "", "2 on; 1 off, vacuum ready; 0 off, no vacuum; other library states pass through"},
    {"acceleratingVoltage", 4, F32, "kV"},
    {"loadCurrent", 14, F32, "", kLibraryUnit},
    {"workingDistance", 34, F32, "mm"},
};
constexpr Field kCondenserReply[] = {{"condenserLens", 0, U16, "", "raw"}};
constexpr Field kLensReply[] = {
    {"objectiveCoarse", 2, U16, "", "raw"},
    {"objectiveFine", 4, U16, "", "raw"},
    {"objectiveCombined", 10, U32, "", kCombined},
    {"workingDistance", 14, F32, "mm"},
};
constexpr Field kStigmatorReply[] = {
    {"stigmatorX", 2, S16, "", kStigmator},
    {"stigmatorY", 4, S16, "", kStigmator},
};
constexpr Field kMagnificationReply[] = {{"magnification", 0, U32, "", "in force after the change"}};
constexpr Field kAutoAdjustReply[] = {
    {"objectiveCombined", 2, S32, "", kCombined},
    {"workingDistance", 6, F32, "mm"},
    {"stigmatorX", 10, S16, "", kStigmator},
    {"stigmatorY", 12, S16, "", kStigmator},
    {"imsValue", 14, U16},
    {"contrast", 16, S32},
    {"brightness", 20, S32},
};
constexpr Field kOpticsSnapshot[] = {
    {"acceleratingVoltage", 6, F32, "kV"},
    {"workingDistance", 14, F32, "mm"},
    {"beamBlanked", 18, S16, "", "-1 blanked, 0 not"},
    {"gunTiltX", 20, S16, "", kGun},
    {"gunTiltY", 22, S16, "", kGun},
    {"gunShiftX", 24, S16, "", kGun},
    {"gunShiftY", 26, S16, "", kGun},
    {"condenserLens", 32, U16, "", "raw"},
    {"objectiveCoarse", 44, U16, "", "raw"},
    {"objectiveFine", 46, U16, "", "raw"},
    {"objectiveCombined", 48, U32, "", kCombined},
    {"stigmatorX", 54, S16, "", kStigmator},
    {"stigmatorY", 56, S16, "", kStigmator},
    {"rotation", 72, U16, "degrees", "0 .. 359; 0 while rotation is off"},
    {"fineShiftX", 74, S16, "", kFineShift},
    {"fineShiftY", 76, S16, "", kFineShift},
    {"magnification", 86, U32},
    {"modelCode", 106, BCD, "", "the instrument's model number; 0 for a type without a model; bytes 108-109 are zero"},
    {"workingDistanceAgain", 110, F32, "mm", "the same reading as at offset 14"},
};
constexpr Field kPcdReply[] = {{"pcdMode", 10, U16}};
constexpr Field kStageInfoReply[] = {
    {"axisFlag1", 0, U16, "", "1 when bit 8 of the axis status is set, else 0"},
    {"axisFlag2", 2, U16},
    {"axisFlag3", 4, U16},
    {"axisFlag4", 6, U16},
    {"axisFlag5", 8, U16},
    {"stageValue1", 10, F32, "", kLibraryUnit},
    {"stageValue2", 14, F32},
    {"stageValue3", 18, F32},
    {"stageValue4", 22, F32},
    {"stageValue5", 26, F32},
    {"stageValue6", 30, F32},
    {"stageValue7", 34, F32},
    {"stageValue8", 38, F32},
    {"stageValue9", 42, F32},
    {"stageValue10", 46, F32},
};
constexpr Field kStageStatusReply[] = {
    {"moveStatus", 0, S16, "", "2 moving, 0 not"},
    {"position1", 2, F32, "", kLibraryUnit},
    {"position2", 6, F32},
    {"position3", 10, F32},
    {"position4", 14, F32},
    {"position5", 18, F32},
};

// A detector group: its items in order.
constexpr Field kDsGroupReply[] = {{"contrast", 0, U16, "", "item 0"}, {"brightness", 2, U16, "", "item 1"}};
constexpr Field kDrGroupReply[] = {{"item2", 0, U16}, {"item3", 2, U16}};
constexpr Field kDtGroupReply[] = {{"item4", 0, U16}, {"item5", 2, U16}};
constexpr Field kDcGroupReply[] = {{"item6", 0, U16}, {"item7", 2, U16}, {"item8", 4, U16}};
constexpr Field kDhGroupReply[] = {{"item9", 0, U16}, {"item10", 2, U16}, {"item11", 4, U16}, {"item12", 6, U16}};
constexpr Field kDuGroupReply[] = {{"item13", 0, U16}, {"item14", 2, U16}};
constexpr Field kStepReply[] = {{"step", 0, S16, "", kEchoed}, {"brightness", 2, U16, "", "read after the change"}};
constexpr Field kDetectorReadings[] = {
    {"contrast", 0, U16, "", "item 0"},
    {"brightness", 2, U16, "", "item 1"},
    {"item2", 4, U16},
    {"item3", 6, U16},
    {"item4", 8, U16},
    {"item5", 10, U16},
    {"item6", 12, U16},
    {"item7", 14, U16},
    {"item8", 16, U16},
    {"item9", 18, U16},
    {"item10", 20, U16},
    {"item11", 22, U16},
    {"item12", 24, U16},
    {"item13", 26, U16},
    {"item14", 28, U16},
};
constexpr Field kAutoContrastReply[] = {
    {"contrast", 2, U16, "", "item 0"},
    {"brightness", 4, U16, "", "item 1"},
    {"item2", 6, U16},
    {"item3", 8, U16},
    {"item4", 10, U16},
    {"item5", 12, U16},
    {"item6", 14, U16},
    {"item7", 16, U16},
    {"item8", 18, U16},
    {"item9", 20, U16},
    {"item10", 22, U16},
    {"item11", 24, U16},
    {"item12", 26, U16},
    {"item13", 28, U16},
    {"item14", 30, U16},
};
constexpr Field kImsReply[] = {{"imsValue", 20, U16}};
constexpr Field kImageDataFlagReply[] = {{"imageDataFlag", 0, U16, "", "1 while a capture is pending, 0 when none is"}};
constexpr Field kCaptureReply[] = {{"answer", 0, U16, "", "always 1"}};
constexpr Field kAutoModeReply[] = {{"autoMode", 0, U16, "", "the library's automatic-operation mode"}};
constexpr Field kAutoStartReply[] = {{"started", 0, U16, "", "0 for selector 0, else 1"}};
constexpr Field kFineShiftReply[] = {
    {"fineShiftX", 0, S16, "", kFineShift},
    {"fineShiftY", 2, S16, "", kFineShift},
};
constexpr Field kGunAlignmentReply[] = {
    {"gunTiltX", 0, S16, "", kGun},
    {"gunTiltY", 2, S16, "", kGun},
    {"gunShiftX", 4, S16, "", kGun},
    {"gunShiftY", 6, S16, "", kGun},
};
constexpr Field kGunAlignmentStateReply[] = {
    {"alignmentState", 0, U16, "", "2 running, 0 idle (EGAS always 0)"},
    {"gunTiltX", 2, S16, "", kGun},
    {"gunTiltY", 4, S16, "", kGun},
    {"gunShiftX", 6, S16, "", kGun},
    {"gunShiftY", 8, S16, "", kGun},
};
constexpr Field kSaveReply[] = {
    {"include", 0, U16, "", "the request's body, sent back"},
    {"format", 2, U16},
    {"path", 4, TEXT, "", "", std::nullopt, 264},
};
constexpr Field kPanelReply[] = {
    {"answer", 0, U16, "", "keys 100 .. 103: the key when the scan speed is the one it names, else 0; other keys 0"},
};
constexpr Field kFreezeReply[] = {{"freezeMode", 0, U16, "", "read after any change"}};
constexpr Field kRotationReply[] = {{"angle", 0, U16, "", "the request's value, sent back"}};
constexpr Field kModelReply[] = {
    {"modelCode", 0, BCD, "", "the instrument's model number; a type without a model leaves the request's two bytes"},
};
constexpr Field kVacuumStatusReply[] = {
    {"vacuumMode", 0, U16},      {"manualPressure", 2, U16},
    {"orificeDiameter", 4, U16}, {"pressureAdjustMode", 6, U16, "", "0 manual, 1 automatic"},
    {"arrivalPressure", 8, U16},
};

constexpr const char kWaits20s[] =
    "Waits inside the service until the run ends, polling once a second, up to about 20 s; no other "
    "client's command runs meanwhile.";
constexpr const char kReturnsAtOnceMove[] =
    "Returns as soon as the move has started: follow it with WSTR, end it early with WDSS.";
constexpr const char kGroupNote[] =
    "The reply holds the detector group's items in order: the item set carries the request's two bytes as "
    "sent, the others are read after the change.";
constexpr const char kCaptureAtOnce[] =
    "Returns at once: poll IFSR until it reads 0. A path without a NUL inside the request is refused too.";

constexpr const char kWaitsForSave[] =
    "Waits until the manager application has saved the image, up to about 180 s; no other client's "
    "command runs meanwhile.";
constexpr const char kManualPressureNote[] =
    "Holds the service for about 100 ms; the switch to manual adjustment stays when the value is refused.";
constexpr const char kAutoPressureNote[] =
    "Switches to automatic adjustment, sets the target and starts the search; holds the service for about "
    "200 ms.";

// Each command's own part of the catalogue, named after its code; its code,
// table and summary come from protocol/commands.def.
namespace layout {

constexpr CommandLayout FVAS{kAcceleratingVoltageRequest, 54, kHighVoltageReply, kSize, kReadings,
                             "when instrument type 12 refuses the voltage"};
constexpr CommandLayout FEBS{kHighVoltageSwitchRequest, 54, kHighVoltageReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout FXSR{kNone, 54, kHighVoltageReply, kUnchanged, kCannotFail, ""};
constexpr CommandLayout ECLS{kCondenserRequest, 4, kCondenserReply, kSize, kReadings,
                             "when the value is out of range or the library refuses"};
constexpr CommandLayout EOCS{kObjectiveCoarseRequest, 20, kLensReply, kSize, kReadings,
                             "when the value is out of range or the library refuses"};
constexpr CommandLayout EOFS{kObjectiveFineRequest, 20, kLensReply, kSize, kReadings,
                             "when the value is out of range or the library refuses"};
constexpr CommandLayout EOWS{kWorkingDistanceRequest, 20, kLensReply, kSize, kReadings,
                             "when the value is out of range (or not a number) or the library refuses"};
constexpr CommandLayout ESMS{kStigmatorRequest, 8, kStigmatorReply, kSize, kReadings,
                             "when a value is out of range or the library refuses X or Y"};
constexpr CommandLayout EMGS{kMagnificationRequest, 4, kMagnificationReply, kSize, kReadings,
                             "only on instrument type 12 below 8"};
constexpr CommandLayout EFAS{kNone, 24, kAutoAdjustReply, kSize, kNotWritten, "when the library refuses to start",
                             kWaits20s};
constexpr CommandLayout ESAS{kNone, 24, kAutoAdjustReply, kSize, kNotWritten, "when the library refuses to start",
                             kWaits20s};
constexpr CommandLayout ELCS{kLensResetRequest, 0, kNone, kZero, kNoBody,
                             "when the request is not 2 or the library refuses"};
constexpr CommandLayout EXSR{kNone, 114, kOpticsSnapshot, kSize, kCannotFail, ""};
constexpr CommandLayout APCR{kNone, 12, kPcdReply, kSize, kCannotFail, ""};
constexpr CommandLayout APLS{kPcdModeRequest, 12, kPcdReply, kSize, kReadings,
                             "when the PCD is not ready or the library refuses"};
constexpr CommandLayout WABS{kAbsoluteMoveRequest, 0, kNone, kZero, kNoBody, kFailsWhenRefused, kReturnsAtOnceMove};
constexpr CommandLayout WRES{kRelativeMoveRequest, 0, kNone, kZero, kNoBody, kFailsWhenRefused, kReturnsAtOnceMove};
constexpr CommandLayout WDSS{kNone, 0, kNone, kZero, kNoBody, "when the library refuses either stop"};
constexpr CommandLayout WINR{kNone, 50, kStageInfoReply, kSize, kCannotFail, ""};
constexpr CommandLayout WSTR{kNone, 22, kStageStatusReply, kSize, kCannotFail, ""};
constexpr CommandLayout DSCS{kContrastRequest, 4, kDsGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DSBS{kBrightnessRequest, 4, kDsGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DRCS{kItem2Request, 4, kDrGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DRBS{kItem3Request, 4, kDrGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DTGS{kItem4Request, 4, kDtGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DTBS{kItem5Request, 4, kDtGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DCGS{kItem6Request, 6, kDcGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DCSS{kItem7Request, 6, kDcGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DCBS{kItem8Request, 6, kDcGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DHGS{kItem9Request, 8, kDhGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DHSS{kItem10Request, 8, kDhGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DHBS{kItem11Request, 8, kDhGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DHLS{kItem12Request, 8, kDhGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DUCS{kItem13Request, 4, kDuGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DUBS{kItem14Request, 4, kDuGroupReply, kSize, kZeros, kFailsWhenRefused, kGroupNote};
constexpr CommandLayout DACS{kNone, 32, kAutoContrastReply, kSize, kNotWritten, "when the library refuses to start",
                             kWaits20s};
constexpr CommandLayout DDSR{kNone, 30, kDetectorReadings, kSize, kCannotFail, ""};
constexpr CommandLayout DWCS{kImsRequest, 28, kImsReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout DWSR{kNone, 28, kImsReply, kSize, kCannotFail, ""};
constexpr CommandLayout IFSR{kNone, 2, kImageDataFlagReply, kSize, kCannotFail, ""};
constexpr CommandLayout IFFS{kCapturePathRequest, 2, kCaptureReply, kSize, kAsOnSuccess,
                             "while a capture is pending, or when the image-save settings cannot be written",
                             kCaptureAtOnce};
constexpr CommandLayout EAAR{kNone, 2, kAutoModeReply, kSize, kCannotFail, ""};
constexpr CommandLayout EAAS{kAutoSelectorRequest, 2, kAutoStartReply, kSize, kCannotFail, "",
                             "Returns at once without waiting for the adjustment; the library's results are not "
                             "examined."};
constexpr CommandLayout IFSS{kCapturePathRequest, 2, kCaptureReply, kSize, kAsOnSuccess,
                             "while a capture is pending, or when the image-save settings cannot be written",
                             kCaptureAtOnce};
constexpr CommandLayout EISS{kFineShiftRequest, 4, kFineShiftReply, kSize, kReadings,
                             "when a value is out of range for the instrument type or the library refuses X or Y"};
constexpr CommandLayout EGSS{kGunShiftRequest, 8, kGunAlignmentReply, kSize, kReadings,
                             "when a value is out of range or the library refuses X or Y"};
constexpr CommandLayout EGTS{kGunTiltRequest, 8, kGunAlignmentReply, kSize, kReadings,
                             "when a value is out of range or the library refuses X or Y"};
constexpr CommandLayout EGAS{kNone, 10, kGunAlignmentStateReply, kSize, kNotWritten,
                             "when the library refuses to start",
                             "Returns at once: poll EGAR until alignmentState reads 0."};
constexpr CommandLayout EGAR{kNone, 10, kGunAlignmentStateReply, kSize, kCannotFail, ""};
constexpr CommandLayout EXAS{kBlankingRequest, 114, kOpticsSnapshot, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout EMGD{kRelativeRequest, 4, kMagnificationReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout EOCD{kRelativeRequest, 20, kLensReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout EOFD{kRelativeRequest, 20, kLensReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout DSCD{kStepRequest, 4, kStepReply, kSize, kZeros, kFailsWhenRefused};
constexpr CommandLayout DSBD{kStepRequest, 4, kStepReply, kSize, kZeros, kFailsWhenRefused};
constexpr CommandLayout ESXD{kRelativeRequest, 8, kStigmatorReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout ESYD{kRelativeRequest, 8, kStigmatorReply, kSize, kReadings, kFailsWhenRefused};
constexpr CommandLayout DXRS{kScanSpeedRequest, 30, kNone, kSize, kZeros, kFailsWhenRefused};
constexpr CommandLayout WJOY{kJoystickRequest, 0, kNone, kZero, kCannotFail, ""};
constexpr CommandLayout ISAV{kSaveRequest, 268, kSaveReply, kZero, kAsOnSuccess,
                             "when the path has no NUL within its 264 bytes, the image-save settings cannot be written, or "
                             "the capture is still pending at the end of the wait",
                             kWaitsForSave};
constexpr CommandLayout PNEL{kPanelRequest, 2, kPanelReply, kZero, kCannotFail, ""};
constexpr CommandLayout IFRZ{kFreezeRequest, 2, kFreezeReply, kZero, kCannotFail, ""};
constexpr CommandLayout ERAS{kRotationRequest, 2, kRotationReply, kZero, kAsOnSuccess, kFailsWhenRefused};
constexpr CommandLayout PIST{kNone, 2, kModelReply, kZero, kCannotFail, ""};
constexpr CommandLayout FVMS{kVacuumModeRequest, 10, kVacuumStatusReply, kSize, kNotWritten, kFailsWhenRefused};
constexpr CommandLayout FPMS{kManualPressureRequest, 10, kVacuumStatusReply, kSize, kNotWritten,
                             "when the value is out of range or the library refuses", kManualPressureNote};
constexpr CommandLayout FPAS{kTargetPressureRequest, 10, kVacuumStatusReply, kSize, kNotWritten,
                             "when the target is out of range or the library refuses the target or the search",
                             kAutoPressureNote};
constexpr CommandLayout FLVR{kNone, 10, kVacuumStatusReply, kSize, kCannotFail, ""};
constexpr CommandLayout ECCS{kCondenserWideRequest, 4, kCondenserReply, kSize, kReadings,
                             "when the value is out of range or the library refuses"};
constexpr CommandLayout XRFX{kRecipeRequest, 0, kNone, kZero, kNoBody,
                             "when the library refuses the file or the name has no NUL inside the request"};
constexpr CommandLayout WSCS{kImagePointRequest, 0, kNone, kZero, kCannotFail, ""};

}  // namespace layout

constexpr CommandTableKind BASE = CommandTableKind::kBase;
constexpr CommandTableKind EXTENDED = CommandTableKind::kExtended;

constexpr CommandInfo Entry(const char* code, CommandTableKind table, const char* summary,
                            const CommandLayout& layout) {
  return {code,
          table,
          summary,
          layout.request,
          layout.replySize,
          layout.reply,
          layout.success,
          layout.failureBody,
          layout.failsWhen,
          layout.note};
}

constexpr CommandInfo kCommands[] = {
#define VESK_COMMAND(code, table, summary) Entry(#code, table, summary, layout::code),
#include "protocol/commands.def"
};

bool IsVariableText(const Field& field) { return field.type == FieldType::kText && field.width == 0; }

}  // namespace

std::span<const CommandInfo> CommandCatalogue() { return kCommands; }

const CommandInfo* FindCommandInfo(std::string_view code) {
  for (const CommandInfo& command : kCommands) {
    if (code == command.code) return &command;
  }
  return nullptr;
}

std::size_t TableEntry(const CommandInfo& command) {
  std::size_t entry = 0;
  for (const CommandInfo& other : kCommands) {
    if (&other == &command) break;
    if (other.table == command.table) ++entry;
  }
  return entry;
}

const char* TypeName(FieldType type) {
  switch (type) {
    case FieldType::kS16:
      return "s16";
    case FieldType::kU16:
      return "u16";
    case FieldType::kS32:
      return "s32";
    case FieldType::kU32:
      return "u32";
    case FieldType::kF32:
      return "f32";
    case FieldType::kBcd16:
      return "bcd16";
    case FieldType::kText:
      return "text";
  }
  return "?";
}

const char* TableName(CommandTableKind table) { return table == CommandTableKind::kBase ? "base" : "extended"; }

std::size_t FieldWidth(const Field& field) {
  switch (field.type) {
    case FieldType::kS16:
    case FieldType::kU16:
    case FieldType::kBcd16:
      return 2;
    case FieldType::kS32:
    case FieldType::kU32:
    case FieldType::kF32:
      return 4;
    case FieldType::kText:
      return field.width == 0 ? 1 : field.width;
  }
  return 0;
}

std::size_t FixedRequestSize(const CommandInfo& command) {
  std::size_t size = 0;
  for (const Field& field : command.request) {
    const std::size_t end = IsVariableText(field) ? field.offset : field.offset + FieldWidth(field);
    if (end > size) size = end;
  }
  return size;
}

bool HasVariableText(const CommandInfo& command) {
  for (const Field& field : command.request) {
    if (IsVariableText(field)) return true;
  }
  return false;
}

std::optional<std::int16_t> SuccessStatusValue(const CommandInfo& command) {
  switch (command.success) {
    case SuccessStatus::kBodySize:
      return static_cast<std::int16_t>(command.replySize);
    case SuccessStatus::kZero:
      return std::int16_t{0};
    case SuccessStatus::kUnchanged:
      return std::nullopt;
  }
  return std::nullopt;
}

std::string FailureNote(const CommandInfo& command) {
  const std::string when = std::string("status -1 ") + command.failsWhen;
  switch (command.failureBody) {
    case FailureBody::kCannotFail:
      return "cannot fail";
    case FailureBody::kReadings:
      return when + "; the body still carries the readings";
    case FailureBody::kAsOnSuccess:
      return when + "; the body is as on success";
    case FailureBody::kZeros:
      return when + "; the body is all zeros";
    case FailureBody::kNotWritten:
      return when + "; the body is not written and carries no readings";
    case FailureBody::kNoBody:
      return when;
  }
  return when;
}

}  // namespace vesk::client
