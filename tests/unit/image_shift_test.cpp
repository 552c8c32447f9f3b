// Image shift: EISS ranges and centres by instrument type.
#include "tests/support/scripted_request.h"

namespace vesk::testing {
namespace {

class ImageShiftTest : public DoubleTest {};

TEST_F(ImageShiftTest, RangeAndCentreFollowTheInstrumentType) {
  struct Case {
    std::int16_t type, x, y;
    std::int32_t xResult, yResult;
    const char* actions;
    std::int16_t status;
  };
  for (const Case& c : {Case{1, 655, -655, 1, 1, "SetFineShiftXAbs(1310) SetFineShiftYAbs(0)", 4},
                        {0, 700, 0, 1, 1, "SetFineShiftXAbs(2748) SetFineShiftYAbs(2048)", 4},
                        {0, 2047, -2048, 1, 1, "SetFineShiftXAbs(4095) SetFineShiftYAbs(0)", 4},
                        {12, -2048, 2047, 1, 1, "SetFineShiftXAbs(0) SetFineShiftYAbs(4095)", 4},
                        {1, 656, 0, 1, 1, "", -1}, {1, -656, 0, 1, 1, "", -1}, {1, 0, 656, 1, 1, "", -1},
                        {1, 700, 0, 1, 1, "", -1}, {0, 2048, 0, 1, 1, "", -1}, {0, 0, -2049, 1, 1, "", -1},
                        {0, 1, 1, 0, 1, "SetFineShiftXAbs(2049)", -1},
                        {1, 1, 1, 2, 1, "SetFineShiftXAbs(656)", -1},
                        {1, 1, 1, 1, 0, "SetFineShiftXAbs(656) SetFineShiftYAbs(656)", -1}}) {
    const RequestBuffer reply =
        RunScripted("EISS",
                    {{SemOp::GetSemType, c.type}, {SemOp::SetFineShiftXAbs, c.xResult},
                     {SemOp::SetFineShiftYAbs, c.yResult}, {SemOp::GetFineShiftX, 0},
                     {SemOp::GetFineShiftY, 655}},
                    {c.x, c.y});
    const int centre = c.type == 1 ? 655 : 2048;
    EXPECT_EQ(ActionsTaken(), c.actions) << c.type << ": " << c.x << "," << c.y;
    EXPECT_EQ(reply.status(), c.status) << c.type << ": " << c.x << "," << c.y;
    EXPECT_EQ(reply.length(), 20);
    // The positions in force, centred the same way, on every path.
    EXPECT_EQ((std::vector<int>{reply.S16(0), reply.S16(2)}), (std::vector<int>{-centre, 655 - centre}));
  }
}

}  // namespace
}  // namespace vesk::testing
