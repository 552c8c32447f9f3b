// PCD mode family.
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class PcdTest : public DoubleTest {};

TEST_F(PcdTest, ReadAlwaysSucceeds) {
  SetResult(SemOp::GetPcdMode, 0x12345);
  RequestBuffer request("APCR", {0xFF, 0xFF, 0xFF, 0xFF});
  request.Dispatch();
  EXPECT_EQ(request.status(), 12);
  EXPECT_EQ(request.length(), 28);
  EXPECT_EQ(request.BodyBytes(0, 10), std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(request.U16(10), 0x2345);
}

TEST_F(PcdTest, SetNeedsTheStatusAndReportsTheModeReadAfterwards) {
  SetResult(SemOp::GetPcdStatus, 1);
  SetResult(SemOp::GetPcdMode, 7);
  RequestBuffer accepted("APLS", {0x00, 0x03});
  accepted.Dispatch();
  EXPECT_EQ(accepted.status(), 12);
  EXPECT_EQ(ArgsOf(SemOp::SetPcdMode), (std::vector<std::int64_t>{3}));
  EXPECT_EQ(accepted.U16(10), 7);  // the library's value, not an echo

  SetResult(SemOp::SetPcdMode, 0);
  RequestBuffer refused("APLS", {0x00, 0x03});
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
  EXPECT_EQ(refused.length(), 28);
  EXPECT_EQ(refused.U16(10), 7);

  scope_double::Reset();
  SetResult(SemOp::GetPcdStatus, 0);
  RequestBuffer notReady("APLS", {0x00, 0x03});
  notReady.Dispatch();
  EXPECT_EQ(notReady.status(), -1);
  EXPECT_EQ(CallNames(), (Names{"GetPcdStatus", "GetPcdMode"}));
}

}  // namespace
}  // namespace vesk::testing
