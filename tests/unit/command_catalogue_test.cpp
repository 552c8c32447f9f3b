// The client's command catalogue against the service itself: its codes
// against the command tables, its layouts against what the handlers write,
// and docs/commands.md against the catalogue.
#include "client/command_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "client/catalogue_fields.h"
#include "client/catalogue_text.h"
#include "platform/profile.h"
#include "protocol/command_table.h"
#include "tests/support/double_fixture.h"

namespace vesk::testing {
namespace {

using client::CommandCatalogue;
using client::CommandInfo;
using client::CommandTableKind;
using client::FailureBody;
using client::Field;
using client::FieldType;

TEST(CommandCatalogue, FollowsTheCommandTablesInOrder) {
  const std::span<const CommandInfo> catalogue = CommandCatalogue();
  ASSERT_EQ(catalogue.size(), BaseCommandTable().size() + ExtendedCommandTable().size());
  std::size_t i = 0;
  for (auto [table, kind] : {std::pair{BaseCommandTable(), CommandTableKind::kBase},
                             {ExtendedCommandTable(), CommandTableKind::kExtended}}) {
    for (std::size_t entry = 0; entry < table.size(); ++entry, ++i) {
      const CommandInfo& info = catalogue[i];
      EXPECT_STREQ(info.code, table[entry].code) << i;
      EXPECT_EQ(info.table, kind) << info.code;
      EXPECT_EQ(client::TableEntry(info), entry) << info.code;
      EXPECT_EQ(client::FindCommandInfo(table[entry].code), &info);
    }
  }
  for (const char* unknown : {"fvas", "FVA", "FVASX", "ZZZZ", ""}) {
    EXPECT_EQ(client::FindCommandInfo(unknown), nullptr) << unknown;
  }
}

// Every field lies within its body, no byte belongs to two fields, names
// are unique, and checked ranges fit the field's type.
void ExpectWellFormed(const CommandInfo& info, std::span<const Field> fields, std::size_t bodySize, const char* which) {
  std::vector<const char*> owner(bodySize, nullptr);
  for (const Field& field : fields) {
    SCOPED_TRACE(std::string(info.code) + " " + which + " " + field.name);
    const bool variableText = field.type == FieldType::kText && field.width == 0;
    const std::size_t end = field.offset + client::FieldWidth(field);
    ASSERT_LE(end, bodySize);
    for (std::size_t b = field.offset; b < (variableText ? bodySize : end); ++b) {
      EXPECT_EQ(owner[b], nullptr) << "byte " << b << " also belongs to " << (owner[b] ? owner[b] : "");
      owner[b] = field.name;
    }
    EXPECT_EQ(std::count_if(fields.begin(), fields.end(),
                            [&](const Field& other) { return std::string(other.name) == field.name; }),
              1);
    if (field.range) {
      EXPECT_LE(field.range->low, field.range->high);
      const bool signed16 = field.type == FieldType::kS16;
      if (signed16 || field.type == FieldType::kU16) {
        EXPECT_GE(field.range->low, signed16 ? -32768 : 0);
        EXPECT_LE(field.range->high, signed16 ? 32767 : 65535);
      }
    }
  }
}

TEST(CommandCatalogue, FieldsLieWithinTheirBodiesWithoutOverlapping) {
  for (const CommandInfo& info : CommandCatalogue()) {
    ExpectWellFormed(info, info.request, kMaxBodySize, "request");
    ExpectWellFormed(info, info.reply, info.replySize, "reply");
    for (const Field& field : info.reply) {
      EXPECT_FALSE(field.range.has_value()) << info.code << " " << field.name << ": ranges belong to requests";
      EXPECT_FALSE(field.type == FieldType::kText && field.width == 0) << info.code << " " << field.name;
    }
    EXPECT_EQ(info.failsWhen[0] == '\0', info.failureBody == FailureBody::kCannotFail) << info.code;
    if (info.failureBody == FailureBody::kNoBody) {
      EXPECT_EQ(info.replySize, 0) << info.code;
    }
  }
}

class CatalogueDispatchTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    path_ = ::testing::TempDir() + "vesk_catalogue_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            ".ini";
    plat::SetImageSaveSettingsPath(path_.c_str());
  }
  void TearDown() override {
    std::remove(path_.c_str());
    DoubleTest::TearDown();
  }

  // Every getter reports `reading`, every other operation answers `verdict`;
  // the stage reports every axis flag set.
  static void ScriptLibrary(std::int32_t reading, std::int32_t verdict) {
    scope_double::Reset();
    for (int i = 0; i < kSemOperationCount; ++i) {
      const auto op = static_cast<SemOp>(i);
      scope_double::SetResult(op, std::string(SemOpName(op)).starts_with("Get") ? reading : verdict);
    }
    StageInfoRecord info{};  // packed: its members are set by index, never bound to references
    for (int axis = 0; axis < kStageAxes; ++axis) {
      info.axisStatus[axis] = kAxisFlagMask;
      info.position[axis] = 2.5f;
    }
    for (int i = 0; i < kStageValues; ++i) info.stageValue[i] = 1.5f;
    scope_double::SetStageInfo(info);
  }

  // A value that every command accepts: the low end of a checked range (the
  // high end when the low end is 0, so that it shows), else 1.
  static std::string SampleValue(const Field& field) {
    if (field.type == FieldType::kText) return "x";
    const double value = !field.range ? 1 : field.range->low != 0 ? field.range->low : field.range->high;
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }

  // The request built by name from the catalogue, status bytes 00 07.
  static RequestBuffer SampleRequest(const CommandInfo& info, std::size_t& requestSize) {
    RequestBuffer request(info.code, {}, 7);
    std::vector<std::string> assignments;
    for (const Field& field : info.request) assignments.push_back(std::string(field.name) + "=" + SampleValue(field));
    std::vector<std::uint8_t> body;
    std::string error;
    if (!info.request.empty()) {
      EXPECT_TRUE(client::EncodeNamedFields(info, assignments, body, error)) << error;
    }
    std::copy(body.begin(), body.end(), request.body());
    request.SetLength(static_cast<std::uint16_t>(kHeaderSize + body.size()));
    requestSize = body.size();
    return request;
  }

 private:
  std::string path_;
};

// Accepted by the library: the catalogued length and status, and every
// non-zero body byte inside a catalogued field (a missing or misplaced field
// shows up as a non-zero byte outside every field).
TEST_F(CatalogueDispatchTest, AcceptedCommandsAnswerWithTheCataloguedLayout) {
  for (const CommandInfo& info : CommandCatalogue()) {
    SCOPED_TRACE(info.code);
    ScriptLibrary(1234, 1);
    for (auto [op, reading] : {std::pair{SemOp::GetImageDataFlag, 0},  // no capture pending
                               {SemOp::GetPcdStatus, 1},               // PCD ready
                               {SemOp::GetSemType, 4},                 // a type with a model
                               {SemOp::GetRrd, 1},                     // rotation on
                               {SemOp::GetBeamBlank, 1},
                               {SemOp::GetStageMoveStatus, 1}}) {
      scope_double::SetResult(op, reading);
    }
    std::size_t requestSize = 0;
    RequestBuffer request = SampleRequest(info, requestSize);
    request.Dispatch();
    EXPECT_TRUE(request.hasReplyMagic());
    EXPECT_EQ(request.length(), kHeaderSize + info.replySize);
    EXPECT_EQ(request.status(), client::SuccessStatusValue(info).value_or(7));
    std::vector<bool> named(info.replySize, false);
    for (const Field& field : info.reply) {
      std::fill_n(named.begin() + field.offset, client::FieldWidth(field), true);
    }
    for (std::size_t b = 0; b < info.replySize; ++b) {
      if (!named[b]) {
        EXPECT_EQ(request.bytes[kHeaderSize + b], 0) << "body byte " << b << " lies in no field";
      }
    }
  }
}

// Refused by the library (and on instrument type 12, with a capture pending
// and the PCD not ready): the same length, and a body as catalogued.
TEST_F(CatalogueDispatchTest, RefusedCommandsKeepTheirLengthAndTheCataloguedBody) {
  constexpr std::uint8_t kLeftOver = 0xA5;  // what an earlier message left in the buffer
  for (const CommandInfo& info : CommandCatalogue()) {
    SCOPED_TRACE(info.code);
    ScriptLibrary(1234, 0);
    scope_double::SetResult(SemOp::GetSemType, 12);
    std::size_t requestSize = 0;
    RequestBuffer request = SampleRequest(info, requestSize);
    std::fill(request.body() + requestSize, request.body() + kMaxBodySize, kLeftOver);
    request.Dispatch();
    EXPECT_EQ(request.length(), kHeaderSize + info.replySize);
    if (request.status() != kStatusFailed) {
      EXPECT_EQ(request.status(), client::SuccessStatusValue(info).value_or(7));
      continue;
    }
    EXPECT_NE(info.failureBody, FailureBody::kCannotFail);
    const std::vector<std::uint8_t> body = request.BodyBytes(0, info.replySize);
    if (info.failureBody == FailureBody::kReadings) {
      EXPECT_TRUE(std::any_of(body.begin(), body.end(), [](std::uint8_t b) { return b != 0; })) << "no readings";
    }
    for (std::size_t b = 0; b < body.size(); ++b) {
      switch (info.failureBody) {
        case FailureBody::kZeros:
          EXPECT_EQ(body[b], 0) << "byte " << b;
          break;
        case FailureBody::kNotWritten:
          if (b >= requestSize) {
            EXPECT_EQ(body[b], kLeftOver) << "byte " << b;
          }
          break;
        default:
          EXPECT_NE(body[b], kLeftOver) << "byte " << b << " was not written";
          break;
      }
    }
  }
}

TEST(CommandCatalogue, DocsCommandsMdIsGeneratedFromIt) {
  std::ifstream file(VESK_COMMANDS_MD, std::ios::binary);
  ASSERT_TRUE(file) << "cannot read " << VESK_COMMANDS_MD;
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_TRUE(text.str() == client::CatalogueMarkdown())
      << VESK_COMMANDS_MD << " is out of date: regenerate it with "
      << "build/default/client/vesk-client --markdown > docs/commands.md";
}

}  // namespace
}  // namespace vesk::testing
