// Request fields by name and reply fields decoded by name, through the
// command catalogue.
#include "client/catalogue_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/wire.h"

namespace vesk::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// Every code used here is in the catalogue (the catalogue test checks all).
const client::CommandInfo& Command(const char* code) {
  const client::CommandInfo* info = client::FindCommandInfo(code);
  if (info == nullptr) {
    std::fprintf(stderr, "%s is not in the catalogue\n", code);
    std::abort();
  }
  return *info;
}

// A body with the given bytes at the given offsets, zeros elsewhere.
Bytes BodyOf(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> parts) {
  Bytes body(size, 0);
  for (const auto& [offset, bytes] : parts) std::copy(bytes.begin(), bytes.end(), body.begin() + offset);
  return body;
}

TEST(NamedFields, AreToldApartFromTypedFields) {
  for (auto [text, named] : {std::pair{"magnification=1000", true},
                             {"path=C:\\a=b", true},
                             {"axisWord1=0", true},
                             {"s32:1000", false},
                             {"str:a=b", false},
                             {"hex:00", false},
                             {"=1", false},
                             {"2x=1", false},
                             {"magnification", false},
                             {"stigmator X=1", false}}) {
    EXPECT_EQ(client::IsNamedField(text), named) << text;
  }
}

TEST(NamedFields, EncodeAtTheCataloguedOffsetsInAnyOrder) {
  struct Case {
    const char* code;
    Texts fields;
    Bytes body;
  };
  const Case cases[] = {
      {"FVAS", {"acceleratingVoltage=15"}, {0x41, 0x70, 0x00, 0x00}},
      {"EMGS", {"magnification=0x3E8"}, {0x00, 0x00, 0x03, 0xE8}},
      {"EMGS", {"magnification=-5"}, {0xFF, 0xFF, 0xFF, 0xFB}},  // the service clamps, it does not refuse
      {"ESMS", {"stigmatorY=5", "stigmatorX=-3"}, {0xFF, 0xFD, 0x00, 0x05}},
      {"DWCS", {"imsValue=010"}, {0x00, 0x00, 0x00, 0x0A}},  // decimal, at offset 2
      {"ECLS", {"condenserLens=4095"}, {0x0F, 0xFF}},
      {"EOWS", {"workingDistance=48"}, {0x42, 0x40, 0x00, 0x00}},
      {"ELCS", {"resetRequest=2"}, {0x00, 0x02}},
      {"PNEL", {"key=12", "step=-5"}, {0x00, 0x0C, 0xFF, 0xFB}},
      {"IFSS", {"path=C:\\a"}, {'C', ':', '\\', 'a', 0x00}},
      {"WRES",
       {"distance5=1", "axisWord1=0xFFFF", "axisWord2=0", "axisWord3=0", "axisWord4=0", "axisWord5=2", "distance1=-1",
        "distance2=0", "distance3=0", "distance4=0"},
       {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 2, 0xBF, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3F, 0x80, 0, 0}},
  };
  for (const Case& c : cases) {
    Bytes body;
    std::string error;
    ASSERT_TRUE(client::EncodeNamedFields(Command(c.code), c.fields, body, error)) << c.code << ": " << error;
    EXPECT_EQ(body, c.body) << c.code << " " << c.fields[0];
  }
}

TEST(NamedFields, SaveRequestReservesTheWholePath) {
  Bytes body;
  std::string error;
  ASSERT_TRUE(client::EncodeNamedFields(Command("ISAV"), Texts{"path=C:\\x", "format=3", "include=0"}, body, error))
      << error;
  EXPECT_EQ(body, BodyOf(268, {{0, {0, 0, 0, 3, 'C', ':', '\\', 'x', 0}}}));  // zeros to the end

  const std::string longest(263, 'p');  // with its NUL, exactly the 264 reserved bytes
  EXPECT_TRUE(
      client::EncodeNamedFields(Command("ISAV"), Texts{"include=0", "format=2", "path=" + longest}, body, error));
  EXPECT_EQ(body.size(), 268u);
  EXPECT_FALSE(
      client::EncodeNamedFields(Command("ISAV"), Texts{"include=0", "format=2", "path=" + longest + "p"}, body, error));
}

TEST(NamedFields, AreRefusedWithAReasonBeforeAnythingIsSent) {
  struct Case {
    const char* code;
    Texts fields;
    const char* reason;
  };
  const Case cases[] = {
      {"ECLS", {"condenserLens=4096"}, "outside 0 .. 4095"},
      {"ECCS", {"condenserLens=10000"}, "outside 0 .. 9999"},
      {"ESMS", {"stigmatorX=-2049", "stigmatorY=0"}, "outside -2048 .. 2047"},
      {"EGSS", {"gunShiftX=0", "gunShiftY=128"}, "gunShiftY=128: outside -128 .. 127"},
      {"EOWS", {"workingDistance=4.99"}, "outside 5 .. 48"},
      {"EOWS", {"workingDistance=48.01"}, "outside 5 .. 48"},
      {"EOWS", {"workingDistance=nan"}, "outside 5 .. 48"},
      {"FPAS", {"targetPressure=0"}, "outside 1 .. 270"},
      {"FPAS", {"targetPressure=271"}, "outside 1 .. 270"},
      {"FPMS", {"manualPressure=2"}, "outside -1 .. 1"},
      {"ELCS", {"resetRequest=1"}, "outside 2 .. 2"},
      {"FEBS", {"highVoltage=40000"}, "does not fit s16"},
      {"EAAS", {"selector=-1"}, "does not fit u16"},
      {"EMGS", {"magnification=4294967296"}, "does not fit s32"},
      {"EMGS", {"magnification=1.5"}, "not a whole number"},
      {"EMGS", {"magnification="}, "not a whole number"},
      {"EMGS", {"magnification=0x"}, "not a whole number"},
      {"FVAS", {"acceleratingVoltage=15kV"}, "not a number"},
      {"EMGS", {"mag=1000"}, "EMGS has no request field 'mag' (its fields: magnification)"},
      {"EISS", {"fineShiftX=1"}, "missing: fineShiftY"},
      {"EISS", {"fineShiftX=1", "fineShiftX=2", "fineShiftY=0"}, "fineShiftX is given twice"},
      {"FXSR", {"anything=1"}, "FXSR takes no request fields"},
      {"XRFX", {"recipe=" + std::string(1008, 'r')}, "at most 1008 fit"},
  };
  for (const Case& c : cases) {
    Bytes body = {0xEE};
    std::string error;
    EXPECT_FALSE(client::EncodeNamedFields(Command(c.code), c.fields, body, error)) << c.code << " " << c.fields[0];
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(body, Bytes{0xEE}) << c.code;
  }
}

Bytes Wire(float value) {
  const WireFloat wire = FloatToWire(value);
  return {wire.begin(), wire.end()};
}

TEST(ReplyFields, DecodeByNameWithTheirUnits) {
  EXPECT_EQ(client::DecodeReplyFields(Command("FXSR"),
                                      BodyOf(54, {{2, {0, 2}}, {4, Wire(15.0f)}, {14, Wire(3)}, {34, Wire(10.3f)}})),
            (Texts{"htState = 2", "acceleratingVoltage = 15 kV", "loadCurrent = 3", "workingDistance = 10.3 mm"}));

  const Texts snapshot = client::DecodeReplyFields(Command("EXSR"), BodyOf(114, {{48, {0x00, 0xFF, 0xFF, 0xFF}},
                                                                                 {54, {0xF8, 0x00}},
                                                                                 {72, {0, 90}},
                                                                                 {86, {0x00, 0x04, 0x93, 0xE0}},
                                                                                 {106, {0x63, 0x80}}}));
  for (const char* line : {"objectiveCombined = 16777215", "stigmatorX = -2048", "rotation = 90 degrees",
                           "magnification = 300000", "modelCode = 6380"}) {
    EXPECT_NE(std::find(snapshot.begin(), snapshot.end(), line), snapshot.end()) << line;
  }
  EXPECT_EQ(client::DecodeReplyFields(Command("EFAS"), BodyOf(24, {{16, {0xFF, 0xFF, 0xFF, 0xFF}}}))[5],
            "contrast = -1");
  EXPECT_EQ(client::DecodeReplyFields(Command("ISAV"), BodyOf(268, {{4, {'C', ':', '\\', 'x'}}}))[2],
            "path = \"C:\\x\"");
}

TEST(ReplyFields, BeyondAShortBodyAreNamedNotRead) {
  EXPECT_EQ(client::DecodeReplyFields(Command("FXSR"), BodyOf(6, {{2, {0, 1}}})),
            (Texts{"htState = 1", "acceleratingVoltage: beyond the 6-byte body", "loadCurrent: beyond the 6-byte body",
                   "workingDistance: beyond the 6-byte body"}));
  EXPECT_EQ(client::DecodeReplyFields(Command("ISAV"), Bytes(100, 'a'))[2], "path: beyond the 100-byte body");
}

}  // namespace
}  // namespace vesk::testing
