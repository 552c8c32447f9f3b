#include "sim/specimen_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "sim/hashing.h"
#include "sim/optics.h"

namespace vesk::sim {
namespace {

// Tin balls: one octave per power of two of the radius, from 16 nm to
// 512 um; in an octave's grid of cells four radii wide, a cell holds a ball
// with this probability, wholly inside the cell, so one cell is one test.
constexpr int kSmallestBallOctave = -6;
constexpr int kLargestBallOctave = 9;
constexpr double kBallOccupancy = 0.4;
constexpr double kCarbonLevel = 0.12;
constexpr double kTextureAmplitude = 0.04;
constexpr int kTextureOctaves = 3;
// Amplifier noise, and shot noise of the signal per unit of dwell.
constexpr double kAmplifierNoise = 0.01;
constexpr double kShotNoise = 0.25;
constexpr std::ptrdiff_t kLargestBlurRadius = 48;
// A blur of a hundredth of a pixel changes no grey level: not filtered.
constexpr double kSmallestBlurVariance = 1e-4;
constexpr int kMeasureStep = 8;

std::uint64_t LatticeHash(std::uint64_t seed, int octave, std::int64_t ix, std::int64_t iy) {
  return Mix(seed ^ (static_cast<std::uint64_t>(ix) * 0x9E3779B97F4A7C15ull) ^
             (static_cast<std::uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full) ^
             (static_cast<std::uint64_t>(octave + 64) * 0x165667B19E3779F9ull));
}

double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }

// Value noise of one octave, in [0, 1), at lattice coordinates.
double ValueNoise(std::uint64_t seed, int octave, double x, double y) {
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const auto ix = static_cast<std::int64_t>(fx);
  const auto iy = static_cast<std::int64_t>(fy);
  const double tx = Smooth(x - fx);
  const double ty = Smooth(y - fy);
  const double a = Unit(LatticeHash(seed, octave, ix, iy));
  const double b = Unit(LatticeHash(seed, octave, ix + 1, iy));
  const double c = Unit(LatticeHash(seed, octave, ix, iy + 1));
  const double d = Unit(LatticeHash(seed, octave, ix + 1, iy + 1));
  return (a + (b - a) * tx) * (1.0 - ty) + (c + (d - c) * tx) * ty;
}

// Surface texture fixed on the specimen; of its octaves only those a few
// pixels and more across show, the finer ones average out in a pixel.
double Texture(std::uint64_t seed, double x, double y, double pixelUm) {
  const int first = static_cast<int>(std::ceil(std::log2(2.0 * pixelUm)));
  double sum = 0.0;
  for (int octave = first; octave < first + kTextureOctaves; ++octave) {
    const double scale = std::ldexp(1.0, octave);
    sum += (ValueNoise(seed, octave, x / scale, y / scale) - 0.5) * kTextureAmplitude;
  }
  return sum;
}

// Secondary-electron signal of the specimen point (x, y) in um, in [0, 1].
double SpecimenSignal(std::uint64_t seed, double x, double y, double pixelUm) {
  for (int octave = kLargestBallOctave; octave >= kSmallestBallOctave; --octave) {
    const double radiusScale = std::ldexp(1.0, octave);
    if (radiusScale < 0.75 * pixelUm) break;  // smaller balls vanish in a pixel
    const double cell = 4.0 * radiusScale;
    const double cx = std::floor(x / cell);
    const double cy = std::floor(y / cell);
    const std::uint64_t h = LatticeHash(seed, octave, static_cast<std::int64_t>(cx), static_cast<std::int64_t>(cy));
    if (Unit(h) >= kBallOccupancy) continue;
    const double radius = radiusScale * (0.5 + 0.5 * Unit(Mix(h + 1)));
    const double dx = x - (cx + 0.25 + 0.5 * Unit(Mix(h + 2))) * cell;
    const double dy = y - (cy + 0.25 + 0.5 * Unit(Mix(h + 3))) * cell;
    const double r2 = (dx * dx + dy * dy) / (radius * radius);
    if (r2 >= 1.0) continue;
    // Edge effect: the yield grows as the surface turns away from the beam.
    const double edge = std::min(1.0 / std::sqrt(std::max(1.0 - r2, 1e-4)), 3.0);
    const double facing = -0.06 * (dx + dy) / radius;
    return std::clamp(0.28 + 0.1 * edge + facing + Texture(seed + 1, x, y, pixelUm), 0.0, 1.0);
  }
  return std::clamp(kCarbonLevel + Texture(seed, x, y, pixelUm), 0.0, 1.0);
}

// Maps frame pixel (i, j) to a specimen point through image shift, raster
// rotation, tilt foreshortening, stage position and stage rotation.
struct ScanGeometry {
  explicit ScanGeometry(const Scene& scene)
      : scene_(scene),
        rasterCos_(std::cos(scene.rasterRotationRad)),
        rasterSin_(std::sin(scene.rasterRotationRad)),
        stageCos_(std::cos(scene.stageRotationRad)),
        stageSin_(std::sin(scene.stageRotationRad)),
        tiltCos_(std::max(std::cos(scene.tiltRad), 0.1)) {}

  void Specimen(double i, double j, double& x, double& y) const {
    const double u = (i + 0.5 - kFrameWidth / 2.0) * scene_.pixelUm + scene_.shiftXUm;
    const double v = (j + 0.5 - kFrameHeight / 2.0) * scene_.pixelUm + scene_.shiftYUm;
    const double ur = u * rasterCos_ - v * rasterSin_;
    const double vr = (u * rasterSin_ + v * rasterCos_) / tiltCos_;
    const double sx = scene_.centreXUm + ur;
    const double sy = scene_.centreYUm + vr;
    x = sx * stageCos_ + sy * stageSin_;
    y = -sx * stageSin_ + sy * stageCos_;
  }

 private:
  const Scene& scene_;
  double rasterCos_, rasterSin_, stageCos_, stageSin_, tiltCos_;
};

// The probe's blur is filtered along lines of the frame: rows, columns and
// one of the diagonals, which together make any elliptical Gaussian whose
// tilt is not steeper than its axes allow (a steeper one comes out a little
// rounder).
enum class LineDirection { kRows, kColumns, kDownRight, kDownLeft };

// Calls visit(first, step, length) for every line of the frame running in
// the direction.
template <typename Visit>
void ForEachLine(LineDirection direction, Visit visit) {
  constexpr std::ptrdiff_t kW = kFrameWidth;
  constexpr std::ptrdiff_t kH = kFrameHeight;
  switch (direction) {
    case LineDirection::kRows:
      for (std::ptrdiff_t j = 0; j < kH; ++j) visit(j * kW, 1, kW);
      break;
    case LineDirection::kColumns:
      for (std::ptrdiff_t i = 0; i < kW; ++i) visit(i, kW, kH);
      break;
    case LineDirection::kDownRight:
      for (std::ptrdiff_t i = 0; i < kW; ++i) visit(i, kW + 1, std::min(kW - i, kH));
      for (std::ptrdiff_t j = 1; j < kH; ++j) visit(j * kW, kW + 1, std::min(kW, kH - j));
      break;
    case LineDirection::kDownLeft:
      for (std::ptrdiff_t i = 0; i < kW; ++i) visit(i, kW - 1, std::min(i + 1, kH));
      for (std::ptrdiff_t j = 1; j < kH; ++j) visit(j * kW + kW - 1, kW - 1, std::min(kW, kH - j));
      break;
  }
}

// A box of 2 radius + 1 whole taps and a fraction `edge` of a tap at each
// end: its variance then follows the wanted one continuously, where a plain
// box could only step from one radius to the next.
struct ExtendedBox {
  std::ptrdiff_t radius = 0;
  double edge = 0.0;
};

// One of three passes that together have the variance (in steps squared).
ExtendedBox BoxForVariance(double variance) {
  constexpr double kLargest = kLargestBlurRadius * (kLargestBlurRadius + 1.0) / 3.0;
  const double v = std::min(variance / 3.0, kLargest);
  const auto radius = static_cast<std::ptrdiff_t>((std::sqrt(1.0 + 12.0 * v) - 1.0) / 2.0);  // r(r + 1) / 3 <= v
  if (radius >= kLargestBlurRadius) return {kLargestBlurRadius, 0.0};
  const double r = static_cast<double>(radius);
  const double edge = (2.0 * r + 1.0) * (v - r * (r + 1.0) / 3.0) / (2.0 * ((r + 1.0) * (r + 1.0) - v));
  return {radius, std::clamp(edge, 0.0, 1.0)};
}

// Three passes of the box along every line of a direction, the line's ends
// held beyond them.
void BlurLines(std::vector<double>& data, LineDirection direction, double variance) {
  if (variance < kSmallestBlurVariance) return;
  const ExtendedBox box = BoxForVariance(variance);
  const std::ptrdiff_t pad = box.radius + 1;
  const double scale = 1.0 / (2.0 * static_cast<double>(box.radius) + 1.0 + 2.0 * box.edge);
  std::vector<double> line;
  std::vector<double> next;
  ForEachLine(direction, [&](std::ptrdiff_t first, std::ptrdiff_t step, std::ptrdiff_t length) {
    const auto at = [&](std::ptrdiff_t k) { return static_cast<std::size_t>(first + k * step); };
    line.resize(static_cast<std::size_t>(length + 2 * pad));
    next.resize(line.size());
    for (std::ptrdiff_t k = 0; k < length; ++k) line[static_cast<std::size_t>(pad + k)] = data[at(k)];
    for (int pass = 0; pass < 3; ++pass) {
      std::fill(line.begin(), line.begin() + pad, line[static_cast<std::size_t>(pad)]);
      std::fill(line.end() - pad, line.end(), line[static_cast<std::size_t>(pad + length - 1)]);
      const double* in = line.data() + pad;
      double* out = next.data() + pad;
      double sum = 0.0;
      for (std::ptrdiff_t k = -box.radius; k <= box.radius; ++k) sum += in[k];
      for (std::ptrdiff_t k = 0; k < length; ++k) {
        out[k] = (sum + box.edge * (in[k - box.radius - 1] + in[k + box.radius + 1])) * scale;
        sum += in[k + box.radius + 1] - in[k - box.radius];
      }
      line.swap(next);
    }
    for (std::ptrdiff_t k = 0; k < length; ++k) data[at(k)] = line[static_cast<std::size_t>(pad + k)];
  });
}

// The scene's probe as variances along rows and columns (pixels squared) and
// along a diagonal (diagonal steps squared, which makes it the covariance).
void BlurByProbe(std::vector<double>& signal, const Scene& scene) {
  const double sx = scene.blurXPx / kFwhmPerSigma;
  const double sy = scene.blurYPx / kFwhmPerSigma;
  const double xy = std::clamp(scene.blurCorrelation, -1.0, 1.0) * sx * sy;
  BlurLines(signal, LineDirection::kRows, sx * sx - std::fabs(xy));
  BlurLines(signal, LineDirection::kColumns, sy * sy - std::fabs(xy));
  BlurLines(signal, xy > 0.0 ? LineDirection::kDownRight : LineDirection::kDownLeft, std::fabs(xy));
}

// Roughly normal, unit variance: four 16-bit uniforms of one hash.
double NoiseSample(std::uint64_t h) {
  double sum = 0.0;
  for (int k = 0; k < 4; ++k) sum += static_cast<double>((h >> (16 * k)) & 0xFFFF) / 65536.0;
  return (sum - 2.0) * 1.7320508;
}

}  // namespace

double GainOfContrast(std::int32_t contrast) { return 4.0 * std::exp2((contrast - 2048) / 512.0); }
double OffsetOfBrightness(std::int32_t brightness) { return (brightness - 2048) / 1024.0; }
std::int32_t ContrastForGain(double gain) {
  return static_cast<std::int32_t>(std::clamp(std::lround(2048.0 + 512.0 * std::log2(gain / 4.0)), 0L, 4095L));
}
std::int32_t BrightnessForOffset(double offset) {
  return static_cast<std::int32_t>(std::clamp(std::lround(2048.0 + 1024.0 * offset), 0L, 4095L));
}

GreyImage RenderScene(const Scene& scene) {
  const ScanGeometry geometry(scene);
  std::vector<double> signal(static_cast<std::size_t>(kFrameWidth) * kFrameHeight, 0.0);
  if (scene.beamOn) {
    for (int j = 0; j < kFrameHeight; ++j) {
      for (int i = 0; i < kFrameWidth; ++i) {
        double x = 0.0;
        double y = 0.0;
        geometry.Specimen(i, j, x, y);
        signal[static_cast<std::size_t>(j) * kFrameWidth + static_cast<std::size_t>(i)] =
            scene.signal * SpecimenSignal(scene.seed, x, y, scene.pixelUm);
      }
    }
    BlurByProbe(signal, scene);
  }
  GreyImage image{kFrameWidth, kFrameHeight, std::vector<std::uint8_t>(signal.size())};
  const double dwell = std::max(scene.dwell, 0.1);
  for (std::size_t p = 0; p < signal.size(); ++p) {
    const double s = signal[p];
    const double sigma = std::sqrt(kAmplifierNoise * kAmplifierNoise + kShotNoise * kShotNoise * std::max(s, 0.0) / dwell);
    const double noisy = s + sigma * NoiseSample(Hash(scene.seed, scene.frame, static_cast<std::int64_t>(p)));
    const double value = scene.gain * noisy + scene.offset;
    image.pixels[p] = static_cast<std::uint8_t>(std::clamp(std::lround(value * 255.0), 0L, 255L));
  }
  return image;
}

SignalStatistics MeasureSignal(const Scene& scene) {
  if (!scene.beamOn) return {};
  const ScanGeometry geometry(scene);
  double sum = 0.0;
  double squares = 0.0;
  int count = 0;
  for (int j = kMeasureStep / 2; j < kFrameHeight; j += kMeasureStep) {
    for (int i = kMeasureStep / 2; i < kFrameWidth; i += kMeasureStep) {
      double x = 0.0;
      double y = 0.0;
      geometry.Specimen(i, j, x, y);
      const double s = scene.signal * SpecimenSignal(scene.seed, x, y, scene.pixelUm);
      sum += s;
      squares += s * s;
      ++count;
    }
  }
  const double mean = sum / count;
  return {mean, std::sqrt(std::max(squares / count - mean * mean, 0.0))};
}

// ---- Data bar ----

namespace {

struct Glyph {
  char c;
  std::array<std::uint8_t, 7> rows;  // 5 bits a row, bit 4 leftmost
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}}, {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}}, {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}}, {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
};

constexpr int kGlyphScale = 2;
constexpr int kGlyphAdvance = 6 * kGlyphScale;
constexpr std::uint8_t kInk = 255;
constexpr int kLongestScaleBarPx = 160;

void DrawText(GreyImage& image, int x, int y, std::string_view text) {
  for (char c : text) {
    for (const Glyph& glyph : kFont) {
      if (glyph.c != c) continue;
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if (((glyph.rows[static_cast<std::size_t>(row)] >> (4 - col)) & 1) == 0) continue;
          for (int dy = 0; dy < kGlyphScale; ++dy) {
            for (int dx = 0; dx < kGlyphScale; ++dx) {
              const int px = x + col * kGlyphScale + dx;
              const int py = y + row * kGlyphScale + dy;
              if (px >= 0 && px < image.width && py >= 0 && py < image.height) image.at(px, py) = kInk;
            }
          }
        }
      }
    }
    x += kGlyphAdvance;
  }
}

// Digits in threes from the right, "12,345"; built front to back (no
// insertions, which GCC 12 at -O3 flags falsely with -Wrestrict).
std::string Grouped(std::int64_t value) {
  const std::string digits = std::to_string(value);
  const std::size_t sign = digits[0] == '-' ? 1 : 0;
  std::string grouped = digits.substr(0, sign);
  for (std::size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string Tenths(std::int64_t tenths) {
  return std::to_string(tenths / 10) + "." + std::to_string(std::abs(tenths % 10));
}

}  // namespace

GreyImage WithDataBar(const GreyImage& frame, const Scene& scene) {
  GreyImage image{frame.width, frame.height + kDataBarHeight, frame.pixels};
  image.pixels.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height), 0);
  const int top = frame.height;
  const std::string text = Tenths(scene.volts / 100) + "kV x" + Grouped(scene.magnification) + " WD" +
                           Tenths(scene.workingDistanceTenths) + "mm";
  DrawText(image, 8, top + 9, text);
  // Scale bar: the longest 1, 2 or 5 times a power of ten that fits.
  std::int64_t barNm = 1;
  for (std::int64_t decade = 1; decade <= 100000000; decade *= 10) {
    for (std::int64_t mantissa : {1, 2, 5}) {
      if (static_cast<double>(mantissa * decade) / 1000.0 / scene.pixelUm <= kLongestScaleBarPx) {
        barNm = mantissa * decade;
      }
    }
  }
  const int barPx = std::max(1, static_cast<int>(static_cast<double>(barNm) / 1000.0 / scene.pixelUm));
  const std::string label = barNm >= 1000000 ? std::to_string(barNm / 1000000) + "mm"
                            : barNm >= 1000  ? std::to_string(barNm / 1000) + "um"
                                             : std::to_string(barNm) + "nm";
  const int right = image.width - 8;
  DrawText(image, right - barPx - 8 - kGlyphAdvance * static_cast<int>(label.size()), top + 9, label);
  for (int y = top + 12; y < top + 18; ++y) {
    for (int x = std::max(0, right - barPx); x < right; ++x) image.at(x, y) = kInk;
  }
  return image;
}

}  // namespace vesk::sim
