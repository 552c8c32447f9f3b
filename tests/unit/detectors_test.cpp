// Detector and signal family.
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

class DetectorTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    // Item n reads back as 100 + n.
    SetHook(SemOp::GetDetector, [](const scope_double::Call& call) {
      return static_cast<std::int32_t>(100 + call.args[0]);
    });
  }
};

struct SetterCase {
  const char* code;
  int item;
  int firstItem;
  int groupSize;
};

constexpr SetterCase kSetters[] = {
    {"DSCS", 0, 0, 2},  {"DSBS", 1, 0, 2},  {"DRCS", 2, 2, 2},  {"DRBS", 3, 2, 2},  {"DTGS", 4, 4, 2},
    {"DTBS", 5, 4, 2},  {"DCGS", 6, 6, 3},  {"DCSS", 7, 6, 3},  {"DCBS", 8, 6, 3},  {"DHGS", 9, 9, 4},
    {"DHSS", 10, 9, 4}, {"DHBS", 11, 9, 4}, {"DHLS", 12, 9, 4}, {"DUCS", 13, 13, 2}, {"DUBS", 14, 13, 2},
};

TEST_F(DetectorTest, EachSetterEchoesItsValueAndReadsTheRestOfItsGroup) {
  for (const SetterCase& c : kSetters) {
    scope_double::ClearJournal();
    RequestBuffer request(c.code, {0xAB, 0xCD});
    request.Dispatch();
    const auto size = static_cast<std::size_t>(2 * c.groupSize);
    EXPECT_EQ(request.status(), static_cast<std::int16_t>(size)) << c.code;
    EXPECT_EQ(request.length(), 16 + size) << c.code;
    EXPECT_EQ(ArgsOf(SemOp::SetDetector), (std::vector<std::int64_t>{c.item, static_cast<std::int16_t>(0xABCD)}));
    Names expected = {"SetDetector"};
    for (int slot = 0; slot < c.groupSize; ++slot) {
      const int item = c.firstItem + slot;
      const std::size_t at = static_cast<std::size_t>(2 * slot);
      if (item == c.item) {
        EXPECT_EQ(request.U16(at), 0xABCD) << c.code;
      } else {
        EXPECT_EQ(request.U16(at), 100 + item) << c.code;
        expected.push_back("GetDetector");
      }
    }
    EXPECT_EQ(CallNames(), expected) << c.code;
  }
}

TEST_F(DetectorTest, RefusedSetterAnswersZerosWithoutReading) {
  SetResult(SemOp::SetDetector, 0);
  for (const SetterCase& c : kSetters) {
    scope_double::ClearJournal();
    RequestBuffer request(c.code, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0});
    request.Dispatch();
    EXPECT_EQ(request.status(), -1);
    EXPECT_EQ(request.length(), 16 + 2 * c.groupSize);
    for (int i = 0; i < 2 * c.groupSize; ++i) EXPECT_EQ(request.bytes[16 + static_cast<std::size_t>(i)], 0) << c.code;
    EXPECT_EQ(CallNames(), Names{"SetDetector"});
  }
}

TEST_F(DetectorTest, RelativeContrastAndBrightnessEchoTheStepAndReadBrightness) {
  for (const char* code : {"DSCD", "DSBD"}) {
    scope_double::ClearJournal();
    RequestBuffer request(code, {0xFF, 0xFF});
    request.Dispatch();
    EXPECT_EQ(request.status(), 4);
    EXPECT_EQ(request.length(), 20);
    EXPECT_EQ(request.U16(0), 0xFFFF);
    EXPECT_EQ(request.U16(2), 101);
    const char* setter = code[2] == 'C' ? "SetContRel" : "SetBrtRel";
    EXPECT_EQ(CallNames(), (Names{setter, "GetDetector"}));
  }
  SetResult(SemOp::SetBrtRel, 2);
  RequestBuffer refused("DSBD", {0x00, 0x05});
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
  EXPECT_EQ(refused.U32(0), 0u);
}

TEST_F(DetectorTest, AllItemsInAscendingOrder) {
  RequestBuffer request("DDSR");
  request.Dispatch();
  EXPECT_EQ(request.status(), 30);
  EXPECT_EQ(request.length(), 46);
  for (std::size_t item = 0; item < 15; ++item) EXPECT_EQ(request.U16(2 * item), 100 + item);
  auto calls = scope_double::CallsTo(SemOp::GetDetector);
  ASSERT_EQ(calls.size(), 15u);
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].args[0], static_cast<std::int64_t>(i));
}

TEST_F(DetectorTest, ImsValueIsTakenFromBodyOffsetTwoAndReadBackOnBothPaths) {
  SetResult(SemOp::GetIms, 0x1234);
  RequestBuffer request("DWCS", {0x77, 0x77, 0x00, 0x09});
  request.Dispatch();
  EXPECT_EQ(ArgsOf(SemOp::SetIms), (std::vector<std::int64_t>{9}));
  EXPECT_EQ(request.status(), 28);
  EXPECT_EQ(request.length(), 44);
  EXPECT_EQ(request.U16(20), 0x1234);
  EXPECT_EQ(request.U16(0), 0);

  SetResult(SemOp::SetIms, 0);
  RequestBuffer refused("DWCS", {0x00, 0x00, 0x00, 0x09});
  refused.Dispatch();
  EXPECT_EQ(refused.status(), -1);
  EXPECT_EQ(refused.U16(20), 0x1234);

  RequestBuffer read("DWSR");
  read.Dispatch();
  EXPECT_EQ(read.status(), 28);
  EXPECT_EQ(read.U16(20), 0x1234);
}

}  // namespace
}  // namespace vesk::testing
