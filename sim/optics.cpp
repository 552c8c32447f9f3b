#include "sim/optics.h"

#include <algorithm>
#include <cmath>

namespace vesk::sim {
namespace {

constexpr double kFarMm = 60.0;
constexpr double kNearMm = 1.0;
constexpr double kDisplayWidthUm = 128000.0;

constexpr std::array<std::int32_t, kMagnificationSteps> MakeSeries() {
  constexpr std::int32_t kDecade[] = {22, 23, 25, 27, 30, 33, 35, 37, 40, 43, 45, 50, 55, 60, 65, 70,
                                      75, 80, 85, 90, 95, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200};
  std::array<std::int32_t, kMagnificationSteps> series{};
  std::size_t i = 0;
  for (std::int32_t m = 5; m <= 20; ++m) series[i++] = m;
  for (std::int32_t factor = 1; factor <= 1000; factor *= 10) {
    for (std::int32_t m : kDecade) series[i++] = m * factor;
  }
  for (std::int32_t m : {220000, 230000, 250000, 270000, 300000}) series[i++] = m;
  return series;
}

constexpr auto kSeries = MakeSeries();
static_assert(kSeries.front() == 5 && kSeries.back() == 300000);

}  // namespace

double FocusDistanceMm(std::int32_t objective) {
  return kFarMm - (kFarMm - kNearMm) * static_cast<double>(objective) / kObjectiveMax;
}

std::int32_t ObjectiveForDistance(double millimetres) {
  const double fraction = (kFarMm - millimetres) / (kFarMm - kNearMm);
  const double value = std::clamp(fraction, 0.0, 1.0) * kObjectiveMax;
  return static_cast<std::int32_t>(std::lround(value));
}

std::int32_t WorkingDistanceTenths(std::int32_t objective) {
  return static_cast<std::int32_t>(std::lround(FocusDistanceMm(objective) * 10.0));
}

double FieldWidthUm(std::int32_t magnification) {
  return kDisplayWidthUm / std::max<std::int32_t>(magnification, 1);
}

double PixelSizeUm(std::int32_t magnification) { return FieldWidthUm(magnification) / kFrameWidth; }

const std::array<std::int32_t, kMagnificationSteps>& MagnificationSeries() { return kSeries; }

std::int32_t StepMagnification(std::int32_t current, std::int32_t steps, std::int32_t lowest,
                               std::int32_t highest) {
  if (steps == 0) return current;
  // Index of the first step above (or below) the current value: a value
  // between two steps moves to the neighbour in the step's direction first.
  std::ptrdiff_t index;
  if (steps > 0) {
    index = std::upper_bound(kSeries.begin(), kSeries.end(), current) - kSeries.begin();
    index += steps - 1;
  } else {
    index = std::lower_bound(kSeries.begin(), kSeries.end(), current) - kSeries.begin() - 1;
    index += steps + 1;
  }
  index = std::clamp<std::ptrdiff_t>(index, 0, static_cast<std::ptrdiff_t>(kSeries.size()) - 1);
  return std::clamp(kSeries[static_cast<std::size_t>(index)], lowest, highest);
}

double ProbeDiameterUm(std::int32_t volts, std::int32_t condenser) {
  const double kv = std::max(volts, 100) / 1000.0;
  return 0.003 * std::sqrt(30.0 / kv) * (1.5 - condenser / 9999.0);
}

double ConvergenceRad(double focusDistanceMm, std::int32_t condenser) {
  const double fill = 0.75 + 0.25 * condenser / 9999.0;
  return kApertureRadiusUm * fill / (std::max(focusDistanceMm, kNearMm) * 1000.0);
}

double DepthOfFieldUm(double pixelUm, double probeUm, double convergenceRad) {
  return std::max(pixelUm, probeUm) / convergenceRad;
}

// Each line focus lies half the astigmatic distance either side of the mean
// focus: the spot is a line along one axis before it, round (the circle of
// least confusion) at it, and a line along the other axis beyond it.
ProbeSpread ProbeSpreadAt(double defocusUm, double convergenceRad, double probeUm, double stigmatorErrorX,
                          double stigmatorErrorY, double rasterRotationRad) {
  const double halfAstigmatismUm = 0.5 * kAstigmatismUmPerUnit * std::hypot(stigmatorErrorX, stigmatorErrorY);
  const double alongU = 2.0 * convergenceRad * (defocusUm + halfAstigmatismUm);
  const double alongV = 2.0 * convergenceRad * (defocusUm - halfAstigmatismUm);
  // Diameters as full widths at half maximum.
  const double su = (alongU * alongU + probeUm * probeUm) / (kFwhmPerSigma * kFwhmPerSigma);
  const double sv = (alongV * alongV + probeUm * probeUm) / (kFwhmPerSigma * kFwhmPerSigma);
  const double angle = 0.5 * std::atan2(stigmatorErrorY, stigmatorErrorX) - rasterRotationRad;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return {su * c * c + sv * s * s, su * s * s + sv * c * c, (su - sv) * c * s};
}

double CondenserTransmission(std::int32_t condenser) { return 1.2 - condenser / 9999.0; }

double ElectronYield(std::int32_t volts) { return 0.7 + 0.6 * (1.0 - volts / 30000.0); }

}  // namespace vesk::sim
