// The synthetic specimen and its secondary-electron image: tin balls of
// many sizes on a carbon substrate, placed by the seed. What the detector
// sees depends on where the beam scans (stage, image shift, rotations,
// magnification), how sharp the probe is (focus, astigmatism, probe size),
// how much current it carries and how long it dwells, and on the detector's
// contrast and brightness.
#pragma once

#include <cstdint>

#include "sim/image_files.h"

namespace vesk::sim {

struct Scene {
  std::uint64_t seed = 0;
  std::uint32_t frame = 0;      // picks the noise of this frame
  bool beamOn = false;          // HT on, beam not blanked, nothing in the path
  double centreXUm = 0.0;       // field centre on the stage
  double centreYUm = 0.0;
  double shiftXUm = 0.0;        // fine image shift, in the raster's frame
  double shiftYUm = 0.0;
  double pixelUm = 0.2;
  double rasterRotationRad = 0.0;
  double stageRotationRad = 0.0;
  double tiltRad = 0.0;
  double blurXPx = 0.0;         // the probe's full widths at half maximum
  double blurYPx = 0.0;         // along the frame's axes
  double blurCorrelation = 0.0; // in [-1, 1]: an ellipse on the diagonals (+ down-right)
  double signal = 1.0;          // beam current and yield, 1 = a well-aligned gun at 15 kV
  double dwell = 4.0;           // relative dwell time per pixel
  double gain = 4.0;            // detector contrast
  double offset = 0.0;          // detector brightness
  // For the data bar.
  std::int32_t volts = 0;
  std::int32_t magnification = 0;
  std::int32_t workingDistanceTenths = 0;
};

// Detector gain and offset of the contrast (item 0) and brightness (item 1)
// values, and back.
double GainOfContrast(std::int32_t contrast);
double OffsetOfBrightness(std::int32_t brightness);
std::int32_t ContrastForGain(double gain);
std::int32_t BrightnessForOffset(double offset);

// The 640 x 480 frame.
GreyImage RenderScene(const Scene& scene);

// Mean and standard deviation of the detector's input over the field, from
// a coarse grid without noise: what automatic contrast and brightness
// measure.
struct SignalStatistics {
  double mean = 0.0;
  double deviation = 0.0;
};
SignalStatistics MeasureSignal(const Scene& scene);

// Height of the data bar added below the frame when "Include" is ON.
inline constexpr int kDataBarHeight = 32;
// The frame with a data bar: accelerating voltage, magnification, working
// distance and a scale bar with its length.
GreyImage WithDataBar(const GreyImage& frame, const Scene& scene);

}  // namespace vesk::sim
