// The focus as an autofocus script sees it: sharpness against defocus is a
// smooth single peak at the specimen surface, narrower at higher
// magnification; astigmatism smears the image one way before focus and the
// perpendicular way beyond it.
#include <cmath>

#include "sim/instrument.h"
#include "sim/optics.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

class OpticsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    truth_ = TruthOfSeed(Options().seed);
    BeamOn();
    ASSERT_EQ(sem_SetScanSpeed(3), 1);  // the slowest scan: least noise
    ASSERT_EQ(sem_SetStigXAbs(static_cast<std::int16_t>(truth_.bestStigmator[0])), 1);
    ASSERT_EQ(sem_SetStigYAbs(static_cast<std::int16_t>(truth_.bestStigmator[1])), 1);
  }

  // An image with the objective focused dz um beyond the surface (the stage
  // stands at Z 10 mm).
  GreyImage ImageAtDefocus(double dzUm) {
    const std::int32_t objective = ObjectiveForDistance(10.0 + truth_.surfaceOffsetMm + dzUm / 1000.0);
    EXPECT_EQ(sem_SetOLCrsAbs(static_cast<std::int16_t>(objective / kObjectiveSpan)), 1);
    EXPECT_EQ(sem_SetOLFineAbs(static_cast<std::int16_t>(objective % kObjectiveSpan)), 1);
    return DecodeBmp(Capture("BMP", "focus.bmp").file).value_or(GreyImage{});
  }

  SpecimenTruth truth_;
};

// Defocus 0, +-h, +-2h, +-4h, +-8h, with h shrinking as the field does.
constexpr double kSteps[] = {1.0, 2.0, 4.0, 8.0};
constexpr double kFarUm = 500.0;

// Where the sharpness falls to half way between the peak and the floor, by
// linear interpolation along one side; the curve must fall below it.
double HalfWidthUm(double peak, double floor, const double (&side)[4], double h) {
  const double half = (peak + floor) / 2.0;
  double previousDz = 0.0;
  double previous = peak;
  for (std::size_t k = 0; k < 4; ++k) {
    const double dz = kSteps[k] * h;
    if (side[k] <= half) return previousDz + (dz - previousDz) * (previous - half) / (previous - side[k]);
    previousDz = dz;
    previous = side[k];
  }
  ADD_FAILURE() << "the sharpness never falls to half its height";
  return 0.0;
}

TEST_F(OpticsTest, SharpnessIsASmoothPeakAtBestFocusNarrowerAtHigherMagnification) {
  struct Case {
    std::int32_t magnification;
    double hUm;
  };
  constexpr Case kCases[] = {{1000, 8.0}, {5000, 1.6}, {20000, 0.4}};
  double widths[3] = {};
  for (std::size_t c = 0; c < 3; ++c) {
    SCOPED_TRACE(kCases[c].magnification);
    ASSERT_EQ(sem_SetMagAbs(kCases[c].magnification), 1);
    const double peak = LaplacianVariance(ImageAtDefocus(0.0));
    const double floor = LaplacianVariance(ImageAtDefocus(kFarUm));
    ASSERT_GT(peak, 1.5 * floor);
    // Every step away from focus, on either side, costs sharpness: an
    // autofocus finds a gradient everywhere, and the peak where it belongs.
    const double margin = 0.01 * (peak - floor);
    double sides[2][4] = {};
    for (int sign : {-1, 1}) {
      double previous = peak;
      for (std::size_t k = 0; k < 4; ++k) {
        const double dz = sign * kSteps[k] * kCases[c].hUm;
        const double sharpness = LaplacianVariance(ImageAtDefocus(dz));
        EXPECT_LT(sharpness, previous - margin) << "at " << dz << " um";
        previous = sharpness;
        sides[sign > 0][k] = sharpness;
      }
    }
    widths[c] = (HalfWidthUm(peak, floor, sides[0], kCases[c].hUm) + HalfWidthUm(peak, floor, sides[1], kCases[c].hUm)) / 2.0;
  }
  EXPECT_GT(widths[0], 2.0 * widths[1]) << widths[0] << " um at x1000, " << widths[1] << " um at x5000";
  EXPECT_GT(widths[1], 2.0 * widths[2]) << widths[1] << " um at x5000, " << widths[2] << " um at x20000";
}

TEST_F(OpticsTest, AnAstigmaticProbeTurnsThroughNinetyDegreesAcrossFocus) {
  // Stigmator X makes line foci along the frame's axes, Y along its
  // diagonals; the two directions compared are perpendicular.
  struct Case {
    const char* name;
    std::int32_t(SEM_CALL* set)(std::int16_t);
    std::size_t axis;
    int across[2];  // (dx, dy) of one direction
    int other[2];   // and of the perpendicular one
  };
  const Case kCases[] = {
      {"X", sem_SetStigXAbs, 0, {1, 0}, {0, 1}},
      {"Y", sem_SetStigYAbs, 1, {1, 1}, {1, -1}},
  };
  constexpr std::int32_t kError = 400;
  const double lineFocusUm = 0.5 * kAstigmatismUmPerUnit * kError;
  ASSERT_EQ(sem_SetMagAbs(5000), 1);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.set(static_cast<std::int16_t>(truth_.bestStigmator[c.axis] + kError)), 1);
    double ratio[3] = {};
    const double defocus[3] = {-lineFocusUm, 0.0, lineFocusUm};
    for (std::size_t i = 0; i < 3; ++i) {
      const GreyImage image = ImageAtDefocus(defocus[i]);
      ratio[i] = DirectionalDetail(image, c.across[0], c.across[1]) / DirectionalDetail(image, c.other[0], c.other[1]);
    }
    EXPECT_GT(ratio[0], 1.3) << "before focus: smeared across the first direction's perpendicular";
    EXPECT_NEAR(ratio[1], 1.0, 0.05) << "at focus: round";
    EXPECT_LT(ratio[2], 1.0 / 1.3) << "beyond focus: smeared the other way";
    ASSERT_EQ(c.set(static_cast<std::int16_t>(truth_.bestStigmator[c.axis])), 1);
  }
}

}  // namespace
}  // namespace vesk::sim::testing
