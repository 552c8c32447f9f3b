// Optics snapshot family (EXSR, EXAS) and the instrument model table.
#include <algorithm>
#include <set>

#include "commands/instrument_model.h"
#include "tests/support/scripted_request.h"

namespace vesk::testing {
namespace {

class OpticsSnapshotTest : public DoubleTest {};

TEST_F(OpticsSnapshotTest, FieldsSitAtTheirOffsetsWithZerosBetween) {
  RequestBuffer request("EXSR");
  std::fill_n(request.body(), 120, 0xFF);  // what an earlier message left
  for (auto [op, value] : {std::pair{SemOp::GetAccv, 15000}, {SemOp::GetWD, 103}, {SemOp::GetBeamBlank, 1},
                           {SemOp::GetGunAlinTiltX, 1}, {SemOp::GetGunAlinTiltY, 2},
                           {SemOp::GetGunAlinShiftX, 3}, {SemOp::GetGunAlinShiftY, 255},
                           {SemOp::GetCL, 0xFFFF}, {SemOp::GetOLCrs, 4095}, {SemOp::GetOLFine, 4095},
                           {SemOp::GetStigX, 0}, {SemOp::GetStigY, 4095}, {SemOp::GetRrd, 1},
                           {SemOp::GetRrdAngle, 909}, {SemOp::GetFineShiftX, 0}, {SemOp::GetFineShiftY, 4095},
                           {SemOp::GetMag, 300000}}) {
    scope_double::SetResult(op, value);
  }
  request.Dispatch();
  EXPECT_EQ(request.status(), 114);
  EXPECT_EQ(request.length(), 130);
  EXPECT_EQ((std::vector<float>{request.Float(6), request.Float(14)}), (std::vector<float>{15.0f, 10.3f}));
  EXPECT_EQ((std::vector<int>{request.S16(18), request.S16(20), request.S16(22), request.S16(24),
                              request.S16(26), request.U16(32), request.U16(44), request.U16(46),
                              request.S16(54), request.S16(56), request.U16(72), request.S16(74),
                              request.S16(76)}),
            (std::vector<int>{-1, -127, -126, -125, 127, 0xFFFF, 4095, 4095, -2048, 2047, 90, -2048, 2047}));
  EXPECT_EQ(request.U32(48), 16777215u);
  EXPECT_EQ(request.U32(86), 300000u);
  EXPECT_EQ(request.BodyBytes(110, 4), request.BodyBytes(14, 4));
  EXPECT_EQ(scope_double::CallCount(SemOp::GetWD), 1u);  // one reading, sent twice
  for (auto [from, to] :
       {std::pair{0, 6}, {10, 14}, {28, 32}, {34, 44}, {52, 54}, {58, 72}, {78, 86}, {90, 106}}) {
    for (int offset = from; offset < to; ++offset) EXPECT_EQ(request.bytes[16 + offset], 0) << offset;
  }
  EXPECT_EQ(request.bytes[16 + 114], 0xFF);  // nothing written past the snapshot
}

TEST_F(OpticsSnapshotTest, RotationAngleInWholeDegreesWithinOneTurn) {
  struct Case {
    std::int32_t rrd, tenths;
    std::uint16_t degrees;
  };
  for (const Case& c : {Case{1, -15, 359}, {1, 3595, 359}, {1, 0, 0}, {1, -1800, 180}, {1, -5, 0},
                        {1, 909, 90}, {1, -3599, 1}, {0, 900, 0}, {2, 900, 0},
                        // beyond one turn the reading still lands within 0 .. 359
                        {1, 7200, 0}, {1, -32768, 324}, {1, 32767, 36}}) {
    const RequestBuffer reply = RunScripted("EXSR", {{SemOp::GetRrd, c.rrd}, {SemOp::GetRrdAngle, c.tenths}});
    EXPECT_EQ(reply.U16(72), c.degrees) << c.rrd << " " << c.tenths;
    EXPECT_EQ(scope_double::CallCount(SemOp::GetRrdAngle), c.rrd == 1 ? 1u : 0u);
  }
}

TEST_F(OpticsSnapshotTest, FineShiftCentreFollowsTheInstrumentType) {
  for (auto [type, centre] : {std::pair{1, 655}, {0, 2048}, {12, 2048}, {-1, 2048}}) {
    const RequestBuffer reply =
        RunScripted("EXSR", {{SemOp::GetSemType, type}, {SemOp::GetFineShiftX, 0},
                             {SemOp::GetFineShiftY, 1310}});
    EXPECT_EQ(reply.S16(74), -centre) << type;
    EXPECT_EQ(reply.S16(76), 1310 - centre) << type;
  }
}

TEST_F(OpticsSnapshotTest, ModelTableGroupsTypesOntoSevenModels) {
  auto field = [](std::int16_t type) {
    return RunScripted("EXSR", {{SemOp::GetSemType, type}}).BodyBytes(106, 4);
  };
  std::set<std::uint16_t> codes;
  for (const std::vector<std::int16_t>& group :
       std::vector<std::vector<std::int16_t>>{{0}, {1}, {2}, {4, 8, 10}, {5, 9, 11}, {6}, {12}}) {
    const std::uint16_t code = ModelCodeForInstrumentType(group[0]).value_or(0);
    codes.insert(code);
    EXPECT_GE(code, 0x1000) << group[0];  // four digits, each a decimal digit
    for (unsigned shift = 0; shift < 16; shift += 4) EXPECT_LE((code >> shift) & 0xF, 9u) << group[0];
    for (std::int16_t type : group) {
      const std::vector<std::uint8_t> expected = {static_cast<std::uint8_t>(code >> 8),
                                                  static_cast<std::uint8_t>(code), 0, 0};
      EXPECT_EQ(field(type), expected) << type;
    }
  }
  EXPECT_EQ(codes.size(), 7u);
  for (std::int16_t type : std::vector<std::int16_t>{3, 7, 13, -1, -32768}) {
    EXPECT_FALSE(ModelCodeForInstrumentType(type).has_value()) << type;
    EXPECT_EQ(field(type), std::vector<std::uint8_t>(4, 0)) << type;
  }
  EXPECT_EQ(PackedBcd(1009), 0x1009);
}

TEST_F(OpticsSnapshotTest, ExasBlanksOnlyForMinusOneAndReportsTheStateInForce) {
  struct Case {
    std::int16_t request;
    std::int32_t result, blanked;
    const char* actions;
    std::int16_t status, blankField;
  };
  for (const Case& c : {Case{-1, 1, 1, "SetBeamBlank(1)", 114, -1}, {0, 1, 0, "SetBeamBlank(0)", 114, 0},
                        {1, 1, 2, "SetBeamBlank(0)", 114, 0}, {-2, 1, 0, "SetBeamBlank(0)", 114, 0},
                        {-1, 0, 0, "SetBeamBlank(1)", -1, 0}}) {
    const RequestBuffer reply = RunScripted(
        "EXAS", {{SemOp::SetBeamBlank, c.result}, {SemOp::GetBeamBlank, c.blanked}, {SemOp::GetMag, 77}},
        {c.request});
    EXPECT_EQ(ActionsTaken(), c.actions) << c.request;
    EXPECT_EQ(reply.status(), c.status) << c.request;
    EXPECT_EQ(reply.length(), 130);
    EXPECT_EQ(reply.S16(18), c.blankField) << c.request;
    EXPECT_EQ(reply.U32(86), 77u);  // snapshot built on failure too
  }
}

}  // namespace
}  // namespace vesk::testing
