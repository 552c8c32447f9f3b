// Scan, panel and joystick family.
#include <cstring>

#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class ScanPanelTest : public DoubleTest {};

TEST_F(ScanPanelTest, ScanSpeedAnswersThirtyZeroBytesEitherWay) {
  for (auto [result, status] : {std::pair{1, 30}, std::pair{0, -1}}) {
    SetResult(SemOp::SetScanSpeed, result);
    RequestBuffer request("DXRS", {0x00, 0x02, 0xAA, 0xAA});
    request.Dispatch();
    EXPECT_EQ(request.status(), status);
    EXPECT_EQ(request.length(), 46);
    EXPECT_EQ(request.BodyBytes(0, 30), std::vector<std::uint8_t>(30, 0));
  }
}

TEST_F(ScanPanelTest, PanelStepsCallTheirSetterWithTheStepOrItsNegation) {
  const std::pair<int, SemOp> keys[] = {
      {11, SemOp::SetBrtFineRel},   {13, SemOp::SetContFineRel}, {15, SemOp::SetStigYFineRel},
      {17, SemOp::SetStigXFineRel}, {19, SemOp::SetMagRel},      {21, SemOp::SetOLFineRel}};
  for (auto [code, op] : keys) {
    for (int negated = 0; negated < 2; ++negated) {
      scope_double::Reset();
      RequestBuffer request("PNEL");
      request.BodyU16(0, static_cast<std::uint16_t>(code + negated)).BodyS16(2, 5);
      request.Dispatch();
      EXPECT_EQ(ArgsOf(op), (Args{negated ? -5 : 5})) << code + negated;
      EXPECT_EQ(request.U16(0), 0);
      EXPECT_EQ(request.status(), 0);
      EXPECT_EQ(request.length(), 18);
    }
  }
  scope_double::Reset();
  RequestBuffer minimum("PNEL");
  minimum.BodyU16(0, 12).BodyS16(2, -32768);
  minimum.Dispatch();
  EXPECT_EQ(ArgsOf(SemOp::SetBrtFineRel), (Args{-32768}));
}

TEST_F(ScanPanelTest, ScanSpeedKeysSetOnlyWhenAskedAndAnswerTheSpeedInForce) {
  SetResult(SemOp::GetScanSpeed, 2);
  RequestBuffer reportOnly("PNEL");
  reportOnly.BodyU16(0, 102).BodyS16(2, 0);
  reportOnly.Dispatch();
  EXPECT_EQ(reportOnly.U16(0), 102);
  EXPECT_EQ(scope_double::CallCount(SemOp::SetScanSpeed), 0u);

  RequestBuffer set("PNEL");
  set.BodyU16(0, 101).BodyS16(2, 1);
  set.Dispatch();
  EXPECT_EQ(ArgsOf(SemOp::SetScanSpeed), (Args{1}));
  EXPECT_EQ(set.U16(0), 0);  // the library still reports speed 2
}

TEST_F(ScanPanelTest, UnknownPanelCodesDoNothing) {
  for (int code : {10, 23, 99, 104, 0xFFFF}) {
    RequestBuffer request("PNEL");
    request.BodyU16(0, static_cast<std::uint16_t>(code)).BodyS16(2, 1);
    request.Dispatch();
    EXPECT_EQ(request.U16(0), 0);
  }
  EXPECT_TRUE(scope_double::Journal().empty());
}

TEST_F(ScanPanelTest, RotationAngleInTenthsAndTheRequestEchoed) {
  for (auto [wire, tenths] : {std::pair{180, 0}, std::pair{0, -1800}, std::pair{360, 1800}, std::pair{181, 10}}) {
    scope_double::Reset();
    RequestBuffer request("ERAS");
    request.BodyU16(0, static_cast<std::uint16_t>(wire));
    request.Dispatch();
    EXPECT_EQ(ArgsOf(SemOp::SetRrdAngleAbs), (Args{tenths}));
    EXPECT_EQ(request.status(), 0);
    EXPECT_EQ(request.length(), 18);
    EXPECT_EQ(request.U16(0), wire);
  }
  SetResult(SemOp::SetRrdAngleAbs, 0);
  RequestBuffer refused("ERAS", {0x00, 0xB4});
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
}

TEST_F(ScanPanelTest, RecipeNameMustEndWithinTheBody) {
  RequestBuffer request("XRFX", {'r', 'e', 'c', '1', 0});
  request.Dispatch();
  auto calls = scope_double::CallsTo(SemOp::LoadRecipeFileEx);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "rec1");
  EXPECT_EQ(calls[0].args, (Args{0, 1, 1}));
  EXPECT_EQ(request.status(), 0);
  EXPECT_EQ(request.length(), 16);

  SetResult(SemOp::LoadRecipeFileEx, 0);
  RequestBuffer refused("XRFX", {'x', 0});
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);

  scope_double::Reset();
  RequestBuffer unterminated("XRFX", {'a', 'b', 'c'});
  unterminated.body()[3] = 0;  // a NUL beyond the received body does not count
  unterminated.Dispatch();
  EXPECT_EQ(unterminated.status(), -1);
  EXPECT_TRUE(scope_double::Journal().empty());
}

TEST_F(ScanPanelTest, ImageMoveConvertsHundredthsToPixels) {
  struct Case {
    std::uint16_t x, y;
    std::int32_t px, py;
  };
  for (Case c : {Case{50, 50, 320, 240}, Case{0, 100, 0, 480}, Case{33, 33, 211, 158}, Case{200, 7, 1280, 33}}) {
    scope_double::Reset();
    RequestBuffer request("WSCS");
    request.BodyU16(0, c.x).BodyU16(2, c.y);
    request.Dispatch();
    auto calls = scope_double::CallsTo(SemOp::MoveImage);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (Args{0}));
    ImageMoveRecord move;
    ASSERT_EQ(calls[0].record.size(), sizeof move);
    std::memcpy(&move, calls[0].record.data(), sizeof move);
    EXPECT_EQ(move.frameWidth, 640);
    EXPECT_EQ(move.frameHeight, 480);
    EXPECT_EQ(move.x, c.px);
    EXPECT_EQ(move.y, c.py);
    EXPECT_EQ(request.length(), 16);
  }
}

TEST_F(ScanPanelTest, JoystickPassesThreeValuesInOrder) {
  RequestBuffer request("WJOY");
  request.BodyS16(0, -1).BodyS16(2, 2).BodyS16(4, 300);
  request.Dispatch();
  EXPECT_EQ(ArgsOf(SemOp::StgJoystick), (Args{-1, 2, 300}));
  EXPECT_EQ(request.status(), 0);
  EXPECT_EQ(request.length(), 16);
}

}  // namespace
}  // namespace vesk::testing
