// Automatic-operation mode, starting adjustments, and the model code.
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class AutoModeTest : public DoubleTest {};

TEST_F(AutoModeTest, AutoModePassesThrough) {
  SetResult(SemOp::GetAutoMode, 0x1ABCD);
  RequestBuffer request("EAAR");
  request.Dispatch();
  EXPECT_EQ(request.U16(0), 0xABCD);
  EXPECT_EQ(request.status(), 2);
  EXPECT_EQ(request.length(), 18);
}

TEST_F(AutoModeTest, SelectorsStartTheirAdjustmentAfterSettingItsMode) {
  const Names expected[] = {
      {},
      {"StartACB"},
      {"SetASDMode", "StartASD"},
      {"SetASDMode", "StartASD"},
      {"SetAFDMode", "StartAFD"},
      {"SetAFDMode", "StartAFD"},
      {"SetASDMode", "StartASD"},
      {"SetASDMode", "StartASD"},
      {},
  };
  const std::int64_t modes[] = {-1, -1, 0, 1, 0, 1, 2, 3, -1};
  SetResult(SemOp::StartASD, 0);  // refusals change nothing in the answer
  for (std::uint16_t selector = 0; selector <= 8; ++selector) {
    scope_double::ClearJournal();
    RequestBuffer request("EAAS");
    request.BodyU16(0, selector);
    request.Dispatch();
    EXPECT_EQ(CallNames(), expected[selector]) << selector;
    if (modes[selector] >= 0) {
      EXPECT_EQ(scope_double::Journal().front().args.at(0), modes[selector]);
    }
    EXPECT_EQ(request.U16(0), selector == 0 ? 0 : 1);
    EXPECT_EQ(request.status(), 2);
    EXPECT_EQ(request.length(), 18);
  }
  RequestBuffer largest("EAAS", {0xFF, 0xFF});
  largest.Dispatch();
  EXPECT_EQ(largest.U16(0), 1);
}

TEST_F(AutoModeTest, ModelCodeSharedByTypeGroupsAndAbsentForOthers) {
  auto codeFor = [](std::int32_t type) {
    SetResult(SemOp::GetSemType, type);
    RequestBuffer request("PIST", {0xAB, 0xCD});
    request.Dispatch();
    EXPECT_EQ(request.status(), 0);
    EXPECT_EQ(request.length(), 18);
    return request.U16(0);
  };
  EXPECT_EQ(codeFor(4), codeFor(8));
  EXPECT_EQ(codeFor(4), codeFor(10));
  EXPECT_EQ(codeFor(5), codeFor(11));
  EXPECT_NE(codeFor(4), codeFor(5));
  for (std::int32_t none : {3, 7, 13, -1}) EXPECT_EQ(codeFor(none), 0xABCD) << none;
  // The code reads as the model number in hexadecimal, as in the snapshot.
  SetResult(SemOp::GetSemType, 12);
  RequestBuffer snapshot("EXSR");
  snapshot.Dispatch();
  EXPECT_EQ(codeFor(12), snapshot.U16(106));
  for (std::int32_t type : {0, 1, 2, 4, 5, 6, 12}) {
    const std::uint16_t code = codeFor(type);
    for (int nibble = 0; nibble < 4; ++nibble) EXPECT_LE((code >> (4 * nibble)) & 0xF, 9) << type;
  }
}

}  // namespace
}  // namespace vesk::testing
