// Captures through the manager application: the saved settings decide the
// file and its format, the scan speed how long it takes, and the image-data
// flag clears when the file is there.
#include <fstream>

#include "sim/stage.h"
#include "sim/image_files.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

class CaptureTest : public SimTest {};

struct FormatCase {
  const char* setting;
  const char* path;
  ImageFormat format;
  const char* mapped;
};

constexpr FormatCase kFormats[] = {
    {"BMP", "C:\\images\\a.bmp", ImageFormat::kBmp, "images/a.bmp"},
    {"TIFF", "D:\\data\\run 1\\b.tif", ImageFormat::kTiff, "data/run 1/b.tif"},
    {"JPEG", "\\\\scope-pc\\share\\c.jpg", ImageFormat::kJpeg, "c.jpg"},
    {"tiff", "C:\\lower.tif", ImageFormat::kTiff, "lower.tif"},
};

TEST_F(CaptureTest, EachFormatIsWrittenAtTheMappedPathThenTheFlagClears) {
  BeamOn();
  for (const FormatCase& c : kFormats) {
    SCOPED_TRACE(c.setting);
    if (!kHasImageCodecs && c.format != ImageFormat::kBmp) continue;  // a build without libtiff and libjpeg
    WriteSettings("OFF", c.setting, c.path);
    ASSERT_EQ(sem_SetImageDataFlag(1), 1);
    ASSERT_EQ(sem_CallApp(1, 8192), 1);
    const std::filesystem::path expected = images_ / c.mapped;
    Advance(1999);  // scan speed 1: two seconds
    EXPECT_EQ(sem_GetImageDataFlag(), 1);
    EXPECT_FALSE(std::filesystem::exists(expected));
    Advance(1);
    EXPECT_EQ(sem_GetImageDataFlag(), 0);
    const std::optional<CaptureRecord> record = LastCapture();
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->written);
    EXPECT_EQ(record->file, expected);
    EXPECT_EQ(record->format, c.format);
    const std::optional<GreyImage> image = Decode(expected, c.format);
    ASSERT_TRUE(image) << "not a valid file of its format";
    EXPECT_EQ(image->width, 640);
    EXPECT_EQ(image->height, 480);
    EXPECT_GT(MeanGrey(*image), 10.0);
  }
  EXPECT_EQ(ReadBytes(images_ / "images/a.bmp").at(0), 'B');
  if (!kHasImageCodecs) return;
  const std::vector<std::uint8_t> tiff = ReadBytes(images_ / "data/run 1/b.tif");
  EXPECT_TRUE(tiff.at(0) == 'I' || tiff.at(0) == 'M');
  const std::vector<std::uint8_t> jpeg = ReadBytes(images_ / "c.jpg");
  EXPECT_EQ(jpeg.at(0), 0xFF);
  EXPECT_EQ(jpeg.at(1), 0xD8);
}

TEST_F(CaptureTest, SlowerScansTakeLongerAndTheSecondVariantTwiceAsLong) {
  WriteSettings("OFF", "BMP", "C:\\t.bmp");
  const auto timeCapture = [this](std::int16_t speed, std::int32_t variant) {
    EXPECT_EQ(sem_SetScanSpeed(speed), 1);
    sem_SetImageDataFlag(1);
    EXPECT_EQ(sem_CallApp(variant, 8192), 1);
    return AdvanceUntil([] { return sem_GetImageDataFlag() == 0; }, 100000, 100);
  };
  EXPECT_EQ(timeCapture(0, 1), 500);
  EXPECT_EQ(timeCapture(1, 1), 2000);
  EXPECT_EQ(timeCapture(2, 1), 8000);
  EXPECT_EQ(timeCapture(3, 1), 32000);
  EXPECT_EQ(timeCapture(1, 2), 4000);
}

TEST_F(CaptureTest, OneCaptureAtATimeAndOnlyCaptureAndFreezeRequests) {
  WriteSettings("OFF", "BMP", "C:\\t.bmp");
  ASSERT_EQ(sem_CallApp(2, 8192), 1);
  EXPECT_EQ(sem_CallApp(1, 8192), 0);
  EXPECT_EQ(sem_CallApp(3, 8192), 0);
  EXPECT_EQ(sem_CallApp(1, 100), 0);
  EXPECT_EQ(sem_CallApp(1, 144), 1);
  EXPECT_EQ(sem_GetFreezeMode(), 1);
}

TEST_F(CaptureTest, TheFlagIsPlainStorageBetweenCaptures) {
  EXPECT_EQ(sem_GetImageDataFlag(), 0);
  EXPECT_EQ(sem_SetImageDataFlag(7), 1);
  Advance(100000);
  EXPECT_EQ(sem_GetImageDataFlag(), 7);
}

TEST_F(CaptureTest, IncludeOnAddsADataBarBelowTheFrame) {
  BeamOn();
  const CaptureRecord plain = Capture("BMP", "plain.bmp", "OFF");
  const CaptureRecord barred = Capture("BMP", "bar.bmp", "on");
  EXPECT_EQ(plain.height, 480);
  EXPECT_EQ(barred.height, 512);
  const std::optional<GreyImage> image = DecodeBmp(barred.file);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->height, 512);
  std::size_t ink = 0;
  std::size_t black = 0;
  for (int y = 480; y < 512; ++y) {
    for (int x = 0; x < 640; ++x) {
      const std::uint8_t p = image->at(x, y);
      ink += p == 255;
      black += p == 0;
    }
  }
  EXPECT_GT(ink, 500u) << "text and scale bar";
  EXPECT_GT(black, 10000u) << "on a black bar";
}

TEST_F(CaptureTest, WithoutSettingsOrWithAFolderForAPathNoFileIsWrittenButTheCaptureEnds) {
  ASSERT_EQ(sem_SetImageDataFlag(1), 1);
  ASSERT_EQ(sem_CallApp(1, 8192), 1);
  Advance(2000);
  EXPECT_EQ(sem_GetImageDataFlag(), 0);
  ASSERT_TRUE(LastCapture());
  EXPECT_FALSE(LastCapture()->written);

  const CaptureRecord folder = Capture("BMP", "C:\\images\\");
  EXPECT_FALSE(folder.written);
  EXPECT_FALSE(std::filesystem::exists(images_ / "images"));
}

// Two names in code page 932 (試料, 画像) stay two files.
TEST_F(CaptureTest, JapaneseNamesBecomeDistinctFiles) {
  const CaptureRecord sample = Capture("BMP", "C:\\images\\\x8E\x8E\x97\xBF.bmp");
  const CaptureRecord picture = Capture("BMP", "C:\\images\\\x89\xE6\x91\x9C.bmp");
  ASSERT_TRUE(sample.written);
  ASSERT_TRUE(picture.written);
  EXPECT_NE(sample.file, picture.file);
  EXPECT_TRUE(std::filesystem::exists(sample.file));
  EXPECT_TRUE(std::filesystem::exists(picture.file));
  EXPECT_EQ(sample.file, images_ / "images" / std::filesystem::path(u8"\xE8\xA9\xA6\xE6\x96\x99.bmp"));
}

TEST_F(CaptureTest, AnUnknownFormatIsSavedAsBmp) {
  const CaptureRecord record = Capture("PNG", "x.png");
  EXPECT_TRUE(record.written);
  EXPECT_EQ(record.format, ImageFormat::kBmp);
  EXPECT_TRUE(DecodeBmp(images_ / "x.png"));
}

TEST_F(CaptureTest, AFrozenImageIsSavedAsItWasWhenFrozen) {
  BeamOn();
  ASSERT_EQ(sem_SetFreezeEx(1, 1), 1);
  StagePositionRecord away{};
  away.axisWord[kAxisX] = 1;
  away.value[kAxisX] = 5.0f;
  ASSERT_EQ(sem_SetStagePosAbs(&away), 1);
  Advance(5000);
  const CaptureRecord first = Capture("BMP", "f1.bmp");
  const CaptureRecord second = Capture("BMP", "f2.bmp");
  EXPECT_EQ(ReadBytes(first.file), ReadBytes(second.file));
  ASSERT_EQ(sem_SetFreezeEx(0, 1), 1);
  const CaptureRecord live = Capture("BMP", "live.bmp");
  EXPECT_NE(ReadBytes(live.file), ReadBytes(first.file));
}

TEST_F(CaptureTest, WithoutBeamTheImageIsDark) {
  const std::optional<GreyImage> dark = DecodeBmp(Capture("BMP", "dark.bmp").file);
  BeamOn();
  const std::optional<GreyImage> lit = DecodeBmp(Capture("BMP", "lit.bmp").file);
  ASSERT_TRUE(dark && lit);
  EXPECT_LT(MeanGrey(*dark), 5.0);
  EXPECT_GT(MeanGrey(*lit), 40.0);
}

}  // namespace
}  // namespace vesk::sim::testing
