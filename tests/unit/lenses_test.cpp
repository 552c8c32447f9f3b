// Lens family: working distance, condenser, objective, stigmators and the
// lens reset against the control-library double.
#include <cmath>

#include "tests/support/scripted_request.h"

namespace vesk::testing {
namespace {

class LensesTest : public DoubleTest {};

TEST_F(LensesTest, AbsoluteLensBoundsAreInclusive) {
  struct Case {
    const char* code;
    SemOp setter;
    int maximum;
    std::int16_t replySize;
  };
  for (const Case& c : {Case{"ECLS", SemOp::SetCLAbs, 4095, 4}, {"ECCS", SemOp::SetCLAbsEx, 9999, 4},
                        {"EOCS", SemOp::SetOLCrsAbs, 4095, 20}, {"EOFS", SemOp::SetOLFineAbs, 4095, 20}}) {
    for (int value : {0, c.maximum, c.maximum + 1, 65535}) {
      const RequestBuffer reply = RunScripted(c.code, {}, {static_cast<std::int16_t>(value)});
      const bool inBounds = value <= c.maximum;
      const std::string set = std::string(SemOpName(c.setter)) + "(" + std::to_string(value) + ")";
      EXPECT_EQ(ActionsTaken(), inBounds ? set : "") << c.code << " " << value;
      EXPECT_EQ(reply.status(), inBounds ? c.replySize : -1) << c.code << " " << value;
      EXPECT_EQ(reply.length(), 16 + c.replySize);
    }
  }
}

TEST_F(LensesTest, LensReplyAfterARefusalShowsTheLensesAndZerosBetween) {
  const RequestBuffer reply = RunScripted(  // only exactly 1 accepts; the body starts as all 0xFF
      "EOCS", {{SemOp::SetOLCrsAbs, 2}, {SemOp::GetOLCrs, 1}, {SemOp::GetOLFine, 2}, {SemOp::GetWD, 103}},
      {10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1});
  EXPECT_EQ(reply.status(), -1);
  EXPECT_EQ(reply.length(), 36);
  EXPECT_EQ((std::vector<std::uint32_t>{reply.U16(2), reply.U16(4), reply.U32(10)}),
            (std::vector<std::uint32_t>{1, 2, 4098}));
  EXPECT_EQ(reply.Float(14), 10.3f);
  for (std::size_t offset : {0, 1, 6, 7, 8, 9, 18, 19}) EXPECT_EQ(reply.bytes[16 + offset], 0) << offset;
  EXPECT_EQ(RunScripted("ECCS", {{SemOp::SetCLAbsEx, 0}, {SemOp::GetCL, 0xFFFF}}).U16(0), 0xFFFF);
}

TEST_F(LensesTest, WorkingDistanceBoundsTruncationAndResult) {
  struct Case {
    float mm;
    std::int32_t result;
    const char* actions;
    std::int16_t status;
  };
  for (const Case& c : {Case{5.0f, 1, "SetWD(5)", 20}, {48.0f, 1, "SetWD(48)", 20},
                        {47.9f, 1, "SetWD(47)", 20}, {4.99f, 1, "", -1}, {4.999f, 1, "", -1},
                        {48.01f, 1, "", -1}, {48.001f, 1, "", -1}, {std::nanf(""), 1, "", -1},
                        {10.0f, 0, "SetWD(10)", -1}, {10.0f, -7, "SetWD(10)", 20}}) {
    scope_double::Reset();
    scope_double::SetResult(SemOp::SetWD, c.result);  // any non-zero result accepts
    RequestBuffer request("EOWS");
    request.BodyFloat(0, c.mm).Dispatch();
    EXPECT_EQ(ActionsTaken(), c.actions) << c.mm;
    EXPECT_EQ(request.status(), c.status) << c.mm;
    EXPECT_EQ(request.length(), 36);
  }
}

TEST_F(LensesTest, RelativeChangesPassTheAmountUnchanged) {
  struct Case {
    const char* code;
    SemOp setter;
    std::int16_t replySize;
  };
  for (const Case& c : {Case{"EOCD", SemOp::SetOLCrsRel, 20}, {"EOFD", SemOp::SetOLFineRel, 20},
                        {"ESXD", SemOp::SetStigXFineRel, 8}, {"ESYD", SemOp::SetStigYFineRel, 8}}) {
    for (auto [amount, result] : {std::pair<std::int16_t, int>{0, 1}, {-32768, 1}, {7, 0}}) {
      const RequestBuffer reply = RunScripted(c.code, {{c.setter, result}}, {amount});
      EXPECT_EQ(ActionsTaken(), std::string(SemOpName(c.setter)) + "(" + std::to_string(amount) + ")");
      EXPECT_EQ(reply.status(), result == 1 ? c.replySize : -1) << c.code;
      EXPECT_EQ(reply.length(), 16 + c.replySize);
    }
  }
}

TEST_F(LensesTest, StigmatorPairIsCheckedFirstThenSetXBeforeY) {
  struct Case {
    std::int16_t x, y;
    std::int32_t xResult, yResult;
    const char* actions;
    std::int16_t status;
  };
  for (const Case& c : {Case{-2048, 2047, 1, 1, "SetStigXAbs(0) SetStigYAbs(4095)", 8},
                        {2048, 0, 1, 1, "", -1}, {0, -2049, 1, 1, "", -1},
                        {0, 0, 0, 1, "SetStigXAbs(2048)", -1},
                        {0, 0, 1, 0, "SetStigXAbs(2048) SetStigYAbs(2048)", -1}}) {
    const RequestBuffer reply = RunScripted(
        "ESMS", {{SemOp::SetStigXAbs, c.xResult}, {SemOp::SetStigYAbs, c.yResult}, {SemOp::GetStigY, 4095}},
        {c.x, c.y, -1, -1});
    EXPECT_EQ(ActionsTaken(), c.actions) << c.x << "," << c.y;
    EXPECT_EQ(reply.status(), c.status) << c.x << "," << c.y;
    EXPECT_EQ(reply.length(), 24);
    EXPECT_EQ(reply.BodyBytes(0, 8), (std::vector<std::uint8_t>{0, 0, 0xF8, 0x00, 0x07, 0xFF, 0, 0}));
  }
}

TEST_F(LensesTest, LensResetOnlyOnRequestTwoAndWithoutBody) {
  for (auto [value, result, status] : {std::tuple<std::int16_t, int, int>{1, 1, -1}, {3, 1, -1}, {2, 1, 0},
                                       {2, 0, -1}, {2, 2, -1}}) {
    const RequestBuffer reply = RunScripted("ELCS", {{SemOp::OLCLReset, result}}, {value, 0x5A5A});
    EXPECT_EQ(ActionsTaken(), value == 2 ? "OLCLReset()" : "") << value;
    EXPECT_EQ(reply.status(), status) << value;
    EXPECT_EQ(reply.length(), 16);
    EXPECT_EQ(reply.U16(2), 0x5A5A);  // body not written
  }
}

}  // namespace
}  // namespace vesk::testing
