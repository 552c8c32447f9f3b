// The electron-optical model of the simulated instrument: how lens values
// turn into focus distance, field of view and image blur.
#pragma once

#include <array>
#include <cstdint>

namespace vesk::sim {

// The objective lens as one number: coarse * 4096 + fine.
inline constexpr std::int32_t kObjectiveSpan = 4096;
inline constexpr std::int32_t kObjectiveMax = kObjectiveSpan * kObjectiveSpan - 1;

// The lens focuses from 60 mm (no excitation) down to 1 mm (full
// excitation), linearly in the combined value: one coarse step is about
// 14 um of focus, one fine step 3.5 nm.
double FocusDistanceMm(std::int32_t objective);
std::int32_t ObjectiveForDistance(double millimetres);
// sem_GetWD: the distance the objective focuses at, in tenths of a mm.
std::int32_t WorkingDistanceTenths(std::int32_t objective);

// Field of view of a 640-pixel frame: 128 mm of display width divided by
// the magnification.
inline constexpr int kFrameWidth = 640;
inline constexpr int kFrameHeight = 480;
double FieldWidthUm(std::int32_t magnification);
double PixelSizeUm(std::int32_t magnification);

// The instrument's own magnification series, used for relative steps.
inline constexpr std::size_t kMagnificationSteps = 149;
const std::array<std::int32_t, kMagnificationSteps>& MagnificationSeries();
// current moved by steps positions of the series, clamped to [lowest, highest].
std::int32_t StepMagnification(std::int32_t current, std::int32_t steps, std::int32_t lowest,
                               std::int32_t highest);

// The final aperture limits the beam's convergence semi-angle to its radius
// over the distance the objective focuses at; a stronger condenser spreads
// the beam over more of the aperture. The blur disc of a defocus dz is
// 2 * alpha * dz.
inline constexpr double kApertureRadiusUm = 35.0;
double ConvergenceRad(double focusDistanceMm, std::int32_t condenser);
// The range of defocus over which the blur disc stays below the larger of
// the probe and a pixel.
double DepthOfFieldUm(double pixelUm, double probeUm, double convergenceRad);
// Astigmatism: the two line foci lie this far apart along the beam per raw
// stigmator unit away from the best setting.
inline constexpr double kAstigmatismUmPerUnit = 0.15;

// A Gaussian's full width at half maximum in standard deviations.
inline constexpr double kFwhmPerSigma = 2.355;
// The probe on the specimen as the second moments of a Gaussian spot, in
// um^2, on the axes of the frame.
struct ProbeSpread {
  double xx = 0.0;
  double yy = 0.0;
  double xy = 0.0;
};
// defocusUm: focus distance minus specimen distance. The stigmator errors
// (raw units from the best setting) make the line foci: X along the frame's
// axes, Y along its diagonals; the raster rotation turns them on the frame.
ProbeSpread ProbeSpreadAt(double defocusUm, double convergenceRad, double probeUm, double stigmatorErrorX,
                          double stigmatorErrorY, double rasterRotationRad);
// Probe diameter: smaller at high voltage and with a strong condenser.
double ProbeDiameterUm(std::int32_t volts, std::int32_t condenser);
// Relative probe current of the condenser setting (weaker lens, more current).
double CondenserTransmission(std::int32_t condenser);
// Secondary-electron yield relative to 15 kV.
double ElectronYield(std::int32_t volts);

// Fine image shift: the full raw range deflects the field by +-10 um.
inline constexpr double kFineShiftReachUm = 10.0;

}  // namespace vesk::sim
