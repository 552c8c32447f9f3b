// Image capture family: settings written, capture requests, the wait for
// the manager application, and freezing.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/profile.h"
#include "tests/support/double_fixture.h"
#include "tests/support/tcp_support.h"

namespace vesk::testing {
namespace {

class ImageCaptureTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    path_ = ::testing::TempDir() + "vesk_capture_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
    std::remove(path_.c_str());
    plat::SetImageSaveSettingsPath(path_.c_str());
  }
  void TearDown() override {
    std::remove(path_.c_str());
    DoubleTest::TearDown();
  }
  std::string Settings() const {
    std::ifstream file(path_, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  static RequestBuffer SaveRequest(std::uint16_t include, std::uint16_t format, const std::string& path) {
    RequestBuffer request("ISAV");
    request.BodyU16(0, include).BodyU16(2, format);
    for (std::size_t i = 0; i < path.size(); ++i) request.body()[4 + i] = static_cast<std::uint8_t>(path[i]);
    request.SetLength(16 + 268);
    return request;
  }
  std::string path_;
};

TEST_F(ImageCaptureTest, SaveWritesTheSettingsRequestsACaptureAndWaitsForIt) {
  scope_double::ScriptResults(SemOp::GetImageDataFlag, {1, 1, 0});
  RequestBuffer request = SaveRequest(0, 3, "C:\\images\\a.tif");
  const auto body = request.BodyBytes(0, 268);
  request.Dispatch();
  EXPECT_EQ(request.status(), 0);
  EXPECT_EQ(request.length(), 284);
  EXPECT_EQ(request.BodyBytes(0, 268), body);  // the request body comes back
  const std::string settings = Settings();
  EXPECT_NE(settings.find("[FENKOR]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Include=ON"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Format=TIFF"), std::string::npos) << settings;
  EXPECT_NE(settings.find("Path=C:\\images\\a.tif"), std::string::npos) << settings;
  EXPECT_EQ(CallNames(), (Names{"SetImageDataFlag", "CallApp", "GetImageDataFlag", "GetImageDataFlag",
                                "GetImageDataFlag"}));
  EXPECT_EQ(ArgsOf(SemOp::SetImageDataFlag), (Args{1}));
  EXPECT_EQ(ArgsOf(SemOp::CallApp), (Args{1, 8192}));
  EXPECT_GE(FakeWaitClock::Now(), 30u);  // three 10 ms waits, the first before the first read
}

TEST_F(ImageCaptureTest, SaveFormatOnlyForTwoToFourAndIncludeOffForNonZero) {
  SaveRequest(0, 2, "a").Dispatch();
  EXPECT_NE(Settings().find("Format=BMP"), std::string::npos);
  for (std::uint16_t format : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{5}}) {
    SaveRequest(7, format, "b").Dispatch();
    EXPECT_NE(Settings().find("Format=BMP"), std::string::npos) << format;  // untouched
    EXPECT_NE(Settings().find("Include=OFF"), std::string::npos);
  }
  SaveRequest(0, 4, "c").Dispatch();
  EXPECT_NE(Settings().find("Format=JPEG"), std::string::npos);
}

// A capture still pending after the wait was not made: failure, and a line
// that names the path.
TEST_F(ImageCaptureTest, SaveGivesUpAfterEighteenThousandPollsAndSaysSo) {
  CapturedOutput output;
  SetResult(SemOp::GetImageDataFlag, 1);
  RequestBuffer request = SaveRequest(0, 2, "never");
  request.Dispatch();
  EXPECT_EQ(request.status(), -1);
  EXPECT_EQ(request.length(), 284);
  EXPECT_EQ(scope_double::CallCount(SemOp::GetImageDataFlag), 18000u);
  EXPECT_GE(FakeWaitClock::Now(), 180000u);
  EXPECT_EQ(output.StandardError(), "ISAV never: capture not finished within 180 s.\n");
}

// Without its settings the manager would save to wherever an earlier
// request pointed: nothing is asked, and the reply says so.
TEST_F(ImageCaptureTest, CapturesAreNotAskedForWhenTheSettingsCannotBeWritten) {
  CapturedOutput output;
  const std::string unwritable = ::testing::TempDir() + "vesk_no_such_folder/seminfo.ini";
  plat::SetImageSaveSettingsPath(unwritable.c_str());
  RequestBuffer save = SaveRequest(0, 2, "C:\\a.bmp");
  save.Dispatch();
  EXPECT_EQ(save.status(), -1);
  RequestBuffer quick("IFFS", {'b', 0});
  quick.Dispatch();
  EXPECT_EQ(quick.status(), -1);
  EXPECT_EQ(quick.U16(0), 1);
  EXPECT_EQ(scope_double::CallCount(SemOp::SetImageDataFlag), 0u);
  EXPECT_EQ(scope_double::CallCount(SemOp::CallApp), 0u);
  const std::string lines = output.StandardError();
  EXPECT_NE(lines.find("ISAV C:\\a.bmp: not captured, the settings file " + unwritable + " cannot be written.\n"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("IFFS b: not captured"), std::string::npos) << lines;
}

// A 16 ms timer (Windows' default) makes fewer polls, not a longer wait;
// and the wait sleeps: readings alone never end it.
TEST_F(ImageCaptureTest, SaveWaitIsBoundedByTimeOnACoarseSleeper) {
  FakeWaitClock::Install(0xFFFFFF00u, 16);  // across the tick wrap
  SetResult(SemOp::GetImageDataFlag, 1);
  SaveRequest(0, 2, "never").Dispatch();
  const std::uint32_t waited = FakeWaitClock::Now() - 0xFFFFFF00u;
  EXPECT_GE(waited, 180000u);
  EXPECT_LE(waited, 180016u);
  EXPECT_EQ(scope_double::CallCount(SemOp::GetImageDataFlag), 180000u / 16);
  for (std::uint32_t sleep : FakeWaitClock::Sleeps()) EXPECT_LE(sleep, 10u);
}

TEST_F(ImageCaptureTest, SaveRefusesAPathWithoutTerminator) {
  RequestBuffer request = SaveRequest(0, 2, std::string(264, 'x'));
  request.body()[268] = 0;  // beyond the field: does not count
  request.Dispatch();
  EXPECT_EQ(request.status(), -1);
  EXPECT_EQ(request.length(), 284);
  EXPECT_TRUE(scope_double::Journal().empty());
  EXPECT_EQ(Settings(), "");
}

TEST_F(ImageCaptureTest, PathsWithLineBreaksAreRefusedBeforeAnythingIsWritten) {
  RequestBuffer save = SaveRequest(0, 2, "C:\\a.bmp\r\nFormat=JPEG");
  save.Dispatch();
  EXPECT_EQ(save.status(), -1);
  RequestBuffer quick("IFSS", {'a', '\n', 'b', 0});
  quick.Dispatch();
  EXPECT_EQ(quick.status(), -1);
  EXPECT_EQ(scope_double::CallNames(), Names{"GetImageDataFlag"});
  EXPECT_EQ(Settings(), "");
}

TEST_F(ImageCaptureTest, ShortSaveRequestAnswersZerosBeyondWhatWasReceived) {
  RequestBuffer request("ISAV", {0, 0, 0, 2, 'p', 0});
  for (std::size_t i = 6; i < 268; ++i) request.body()[i] = 0xEE;  // left by an earlier message
  request.Dispatch();
  EXPECT_EQ(request.length(), 284);
  EXPECT_EQ(request.BodyBytes(6, 262), std::vector<std::uint8_t>(262, 0));
  EXPECT_NE(Settings().find("Path=p"), std::string::npos);
}

TEST_F(ImageCaptureTest, QuickCaptureVariantsAndTheScanSpeedNudge) {
  for (auto [code, variant] : {std::pair{"IFSS", 1}, std::pair{"IFFS", 2}}) {
    scope_double::Reset();
    SetResult(SemOp::GetScanSpeed, 0);
    RequestBuffer request(code, {'D', ':', '\\', 'x', 0});
    request.Dispatch();
    EXPECT_EQ(request.status(), 2);
    EXPECT_EQ(request.length(), 18);
    EXPECT_EQ(request.U16(0), 1);
    EXPECT_EQ(CallNames(), (Names{"GetImageDataFlag", "SetImageDataFlag", "GetScanSpeed", "SetScanSpeed", "CallApp"}));
    EXPECT_EQ(ArgsOf(SemOp::SetScanSpeed), (Args{1}));
    EXPECT_EQ(ArgsOf(SemOp::CallApp), (Args{variant, 8192}));
    const std::string settings = Settings();
    EXPECT_NE(settings.find("Include=OFF"), std::string::npos);
    EXPECT_NE(settings.find("Format=BMP"), std::string::npos);
    EXPECT_NE(settings.find("Path=D:\\x"), std::string::npos);
  }
  scope_double::Reset();
  SetResult(SemOp::GetScanSpeed, 2);
  RequestBuffer request("IFSS", {'y', 0});
  request.Dispatch();
  EXPECT_EQ(scope_double::CallCount(SemOp::SetScanSpeed), 0u);
}

TEST_F(ImageCaptureTest, QuickCaptureRefusedWhilePendingLeavesTheSettingsAlone) {
  RequestBuffer first("IFFS", {'f', 0});
  first.Dispatch();
  const std::string before = Settings();
  SetResult(SemOp::GetImageDataFlag, 1);
  scope_double::ClearJournal();
  RequestBuffer second("IFFS", {'g', 0});
  second.Dispatch();
  EXPECT_EQ(second.status(), -1);
  EXPECT_EQ(second.U16(0), 1);
  EXPECT_EQ(second.length(), 18);
  EXPECT_EQ(CallNames(), Names{"GetImageDataFlag"});
  EXPECT_EQ(Settings(), before);

  SetResult(SemOp::GetImageDataFlag, 0);
  RequestBuffer unterminated("IFSS", {'a', 'b'});
  unterminated.body()[2] = 0;  // beyond the received body
  unterminated.Dispatch();
  EXPECT_EQ(unterminated.status(), -1);
  EXPECT_EQ(Settings(), before);
}

TEST_F(ImageCaptureTest, FlagReportAndFreeze) {
  SetResult(SemOp::GetImageDataFlag, 0x10001);
  RequestBuffer flag("IFSR", {0xAA, 0xAA});
  flag.Dispatch();
  EXPECT_EQ(flag.U16(0), 1);
  EXPECT_EQ(flag.status(), 2);
  EXPECT_EQ(flag.length(), 18);

  SetResult(SemOp::GetFreezeMode, 3);
  RequestBuffer report("IFRZ", {0xFF, 0xFF});
  report.Dispatch();
  EXPECT_EQ(CallNames(), (Names{"GetImageDataFlag", "GetFreezeMode"}));
  EXPECT_EQ(report.U16(0), 3);
  EXPECT_EQ(report.status(), 0);

  for (std::int16_t mode : {std::int16_t{0}, std::int16_t{1}, std::int16_t{-2}}) {
    scope_double::ClearJournal();
    RequestBuffer freeze("IFRZ");
    freeze.BodyS16(0, mode);
    freeze.Dispatch();
    EXPECT_EQ(ArgsOf(SemOp::SetFreezeEx), (Args{mode, 1}));
    EXPECT_EQ(ArgsOf(SemOp::CallApp), (Args{static_cast<std::uint16_t>(mode), 144}));
    EXPECT_EQ(freeze.length(), 18);
  }
}

}  // namespace
}  // namespace vesk::testing
