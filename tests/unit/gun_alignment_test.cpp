// Gun alignment family: EGSS, EGTS, EGAS, EGAR against the control-library double.
#include "tests/support/scripted_request.h"

namespace vesk::testing {
namespace {

class GunAlignmentTest : public DoubleTest {};

// Raw tilt X 0, tilt Y 255, shift X 128, shift Y 100: on the wire -128, 127, 0, -28.
constexpr std::pair<SemOp, std::int32_t> kTiltX{SemOp::GetGunAlinTiltX, 0},
    kTiltY{SemOp::GetGunAlinTiltY, 255}, kShiftX{SemOp::GetGunAlinShiftX, 128},
    kShiftY{SemOp::GetGunAlinShiftY, 100};
const std::vector<std::int16_t> kGunOnWire = {-128, 127, 0, -28};

std::vector<std::int16_t> GunFields(const RequestBuffer& reply, std::size_t base) {
  return {reply.S16(base), reply.S16(base + 2), reply.S16(base + 4), reply.S16(base + 6)};
}

TEST_F(GunAlignmentTest, PairsAreBoundedThenSetXBeforeY) {
  struct Case {
    std::int16_t x, y;
    std::int32_t xResult, yResult;
    const char* actions;  // as EGSS takes them; EGTS calls the tilt setters instead
    std::int16_t status;
  };
  for (auto [code, setX, setY] : {std::tuple{"EGSS", SemOp::SetGunAlinShiftXAbs, SemOp::SetGunAlinShiftYAbs},
                                  {"EGTS", SemOp::SetGunAlinTiltXAbs, SemOp::SetGunAlinTiltYAbs}}) {
    for (const Case& c : {Case{-128, 127, 1, 1, "SetGunAlinShiftXAbs(0) SetGunAlinShiftYAbs(255)", 8},
                          {0, 0, 1, 2, "SetGunAlinShiftXAbs(128) SetGunAlinShiftYAbs(128)", -1},
                          {0, 0, 0, 1, "SetGunAlinShiftXAbs(128)", -1}, {128, 0, 1, 1, "", -1},
                          {-129, 0, 1, 1, "", -1}, {0, 128, 1, 1, "", -1}, {0, -129, 1, 1, "", -1}}) {
      const RequestBuffer reply = RunScripted(
          code, {{setX, c.xResult}, {setY, c.yResult}, kTiltX, kTiltY, kShiftX, kShiftY}, {c.x, c.y});
      std::string expected = c.actions;
      if (setX == SemOp::SetGunAlinTiltXAbs) {
        for (std::size_t at; (at = expected.find("Shift")) != std::string::npos;) {
          expected.replace(at, 5, "Tilt");
        }
      }
      EXPECT_EQ(ActionsTaken(), expected) << code << " " << c.x << "," << c.y;
      EXPECT_EQ(reply.status(), c.status) << code << " " << c.x << "," << c.y;
      EXPECT_EQ(reply.length(), 24);
      EXPECT_EQ(GunFields(reply, 0), kGunOnWire);  // tilt then shift, on every path
    }
  }
}

TEST_F(GunAlignmentTest, StartAndStateReplies) {
  struct Case {
    const char* code;
    SemOp op;
    std::int32_t result;
    std::int16_t status;
    std::uint16_t state;  // 0xAAAA: body left as the buffer held it
  };
  for (const Case& c : {Case{"EGAS", SemOp::StartAGA, 1, 10, 0}, {"EGAS", SemOp::StartAGA, 0, -1, 0xAAAA},
                        {"EGAS", SemOp::StartAGA, 2, -1, 0xAAAA}, {"EGAR", SemOp::GetAGA, 0, 10, 0},
                        {"EGAR", SemOp::GetAGA, 1, 10, 2}, {"EGAR", SemOp::GetAGA, 2, 10, 2},
                        {"EGAR", SemOp::GetAGA, -3, 10, 2}, {"EGAR", SemOp::GetAGA, 0x10000, 10, 0}}) {
    const std::int16_t stale = static_cast<std::int16_t>(0xAAAA);
    const RequestBuffer reply = RunScripted(c.code, {{c.op, c.result}, kTiltX, kTiltY, kShiftX, kShiftY},
                                            {stale, stale, stale, stale, stale});
    EXPECT_EQ(reply.status(), c.status) << c.code << " " << c.result;
    EXPECT_EQ(reply.length(), 26);
    EXPECT_TRUE(reply.hasReplyMagic());
    EXPECT_EQ(reply.U16(0), c.state) << c.code << " " << c.result;  // EGAS: idle, though just started
    EXPECT_EQ(GunFields(reply, 2), c.state == 0xAAAA ? std::vector<std::int16_t>(4, stale) : kGunOnWire);
  }
}

}  // namespace
}  // namespace vesk::testing
