// Test support for the simulated instrument: a fixture that gives every test
// a fresh instrument on a manual clock with folders of its own, and readers
// for the image files it writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scope/sem.h"
#include "sim/image_files.h"
#include "sim/simulator.h"

namespace vesk::sim::testing {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Applies options (a fresh instrument) with this test's folders and a new
  // manual clock; the time scale is the options' (1 unless set).
  void Apply(SimulatorOptions options = {});
  SimulatorOptions Options() const;
  void Advance(std::int64_t milliseconds) { clock_->Advance(milliseconds); }
  // Advances in steps until done() or the limit; the simulated time taken.
  template <typename Done>
  std::int64_t AdvanceUntil(Done done, std::int64_t limitMs, std::int64_t stepMs = 50) {
    std::int64_t elapsed = 0;
    while (!done() && elapsed < limitMs) {
      Advance(stepMs);
      elapsed += stepMs;
    }
    return elapsed;
  }
  // The FENKOR section as the service writes it.
  void WriteSettings(std::string_view include, std::string_view format, std::string_view path);
  // Writes the settings, raises the flag, requests a capture and lets the
  // manager finish it; the record of the capture.
  CaptureRecord Capture(std::string_view format, std::string_view path, std::string_view include = "OFF");
  void BeamOn();

  std::filesystem::path root_;
  std::filesystem::path images_;
  std::filesystem::path settings_;
  std::shared_ptr<ManualClock> clock_;
};

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);
// Decoders, independent of the simulator's encoders; nothing when the file
// is not a valid image of that format.
std::optional<GreyImage> DecodeBmp(const std::filesystem::path& file);
std::optional<GreyImage> DecodeTiff(const std::filesystem::path& file);
std::optional<GreyImage> DecodeJpeg(const std::filesystem::path& file);
std::optional<GreyImage> Decode(const std::filesystem::path& file, ImageFormat format);

// Mean absolute difference of horizontal neighbours of 4 x 4 block means in
// the top 480 rows: larger for a sharper image.
double Sharpness(const GreyImage& image);
double MeanGrey(const GreyImage& image);
// Variance of the 4-neighbour Laplacian over the top 480 rows: the focus
// measure autofocus scripts use.
double LaplacianVariance(const GreyImage& image);
// Mean squared difference of pixels (dx, dy) apart (each -1, 0 or 1) in the
// top 480 rows: small along the direction the image is smeared in.
double DirectionalDetail(const GreyImage& image, int dx, int dy);

}  // namespace vesk::sim::testing
