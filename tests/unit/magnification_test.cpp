// Magnification family: EMGS snapping and EMGD against the control-library double.
#include <algorithm>
#include <functional>

#include "commands/magnification.h"
#include "tests/support/scripted_request.h"

namespace vesk::testing {
namespace {

class MagnificationTest : public DoubleTest {};

TEST_F(MagnificationTest, StepsAscendFromFiveToThreeHundredThousand) {
  EXPECT_EQ(MagnificationSteps[16], 22);
  EXPECT_EQ(MagnificationSteps.back(), 300000);
  EXPECT_EQ(std::ranges::adjacent_find(MagnificationSteps, std::greater_equal{}), MagnificationSteps.end());
}

TEST_F(MagnificationTest, RequestsSnapToTheNearestStepTiesGoingUp) {
  struct Case {
    std::int16_t type;
    std::int32_t request;
    const char* actions;  // empty: refused
  };
  for (const Case& c : {Case{0, 21, "SetMagAbs(22)"}, {0, 210, "SetMagAbs(220)"}, {0, 24, "SetMagAbs(25)"},
                        {0, 28, "SetMagAbs(27)"}, {0, 31, "SetMagAbs(30)"}, {0, 32, "SetMagAbs(33)"},
                        {0, 36, "SetMagAbs(37)"}, {0, 2700, "SetMagAbs(2700)"}, {0, 201, "SetMagAbs(200)"},
                        {0, 1000000, "SetMagAbs(300000)"}, {0, 300001, "SetMagAbs(300000)"},
                        {0, 0, "SetMagAbs(5)"}, {0, -70000, "SetMagAbs(5)"}, {12, 0, ""}, {12, 5, ""},
                        {12, 6, ""}, {12, 7, ""}, {12, -1, ""}, {12, 8, "SetMagAbs(8)"},
                        {12, 21, "SetMagAbs(22)"}}) {
    const RequestBuffer reply = RunScripted("EMGS", {{SemOp::GetSemType, c.type}, {SemOp::GetMag, 4321}},
                                            {static_cast<std::int16_t>(c.request >> 16),
                                             static_cast<std::int16_t>(c.request)});
    EXPECT_EQ(ActionsTaken(), c.actions) << c.type << "/" << c.request;
    EXPECT_EQ(reply.status(), *c.actions ? 4 : -1) << c.type << "/" << c.request;
    EXPECT_EQ(reply.length(), 20);
    EXPECT_EQ(reply.U32(0), 4321u);  // read back on both paths
  }
}

TEST_F(MagnificationTest, EmgsCountsAsDoneOnceTheStepIsHandedOver) {
  const RequestBuffer reply = RunScripted("EMGS", {{SemOp::SetMagAbs, 0}}, {0, 1000});
  EXPECT_EQ(reply.status(), 4);
  EXPECT_EQ(scope_double::CallNames(), (std::vector<std::string>{"GetSemType", "SetMagAbs", "GetMag"}));
}

TEST_F(MagnificationTest, EmgdPassesTheAmountAndFollowsTheLibrary) {
  using Case = std::tuple<std::int16_t, int, int>;  // amount, library result, status
  for (auto [amount, result, status] : {Case{0, 1, 4}, {-3, 1, 4}, {5, 0, -1}}) {
    const RequestBuffer reply =
        RunScripted("EMGD", {{SemOp::SetMagRel, result}, {SemOp::GetMag, 900}}, {amount});
    EXPECT_EQ(ActionsTaken(), "SetMagRel(" + std::to_string(amount) + ")");
    EXPECT_EQ(reply.status(), status);
    EXPECT_EQ(reply.length(), 20);
    EXPECT_EQ(reply.U32(0), 900u);
  }
}

}  // namespace
}  // namespace vesk::testing
