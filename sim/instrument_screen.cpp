// The instrument's state for the live view: members read, nothing changed.
#include <algorithm>

#include "sim/instrument.h"
#include "sim/optics.h"

namespace vesk::sim {

ScreenState SimulatedInstrument::Screen() const {
  ScreenState state;
  state.atMs = now_;
  state.instrumentType = setup_.instrumentType;
  state.timeScale = setup_.timeScale;
  state.seed = setup_.seed;

  state.highVoltage = highVoltage_;
  state.volts = volts_;
  state.blanked = blanked_;
  state.magnification = magnification_;
  state.workingDistanceTenths = WorkingDistanceTenths(objective_);
  state.objectiveCoarse = objective_ / kObjectiveSpan;
  state.objectiveFine = objective_ % kObjectiveSpan;
  state.condenser = condenser_;
  state.stigmator = stigmator_;
  state.gun = gun_;
  state.fineShift = fineShift_;
  state.rasterRotationTenths = rotationTenths_;
  state.contrast = detector_[0];
  state.brightness = detector_[1];
  state.pcdMode = pcdMode_;

  StageInfoRecord info{};
  stage_.FillInfo(info, now_);
  for (int axis = 0; axis < kStageAxes; ++axis) {
    state.stagePosition[axis] = info.position[axis];
    state.stageTarget[axis] = info.stageValue[axis];
  }
  state.stageMoving = stage_.Moving(now_);

  state.vacuumMode = vacuum_.Mode();
  state.vacuumStatus = vacuum_.Status(now_);
  state.arrivalPressurePa = vacuum_.ArrivalPressure(now_);

  state.autoRun = static_cast<std::int32_t>(run_.active);
  if (run_.active != AutoRun::kNone) state.autoRunLeftMs = std::max<std::int64_t>(0, run_.end - now_);
  if (capture_) {
    state.capturePending = true;
    state.captureVariant = capture_->variant;
    state.capturePath = capture_->path;
    state.captureLeftMs = std::max<std::int64_t>(0, capture_->due - now_);
  }
  state.lastCapture = lastCapture_;

  state.scanSpeed = scanSpeed_;
  state.frozen = freeze_ == 1 && frozenScene_.has_value();
  state.frameMs = FrameMs();
  state.scene = state.frozen ? *frozenScene_ : SceneNow(CaptureDwell(1));
  return state;
}

}  // namespace vesk::sim
