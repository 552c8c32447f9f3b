// The registry reader: value types and lengths as the enable flags see
// them, key and value lookup (on every platform: the registry export file
// on POSIX, the registry itself on Windows), and the export file's own
// forms: malformed lines, encodings, deletions.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "tests/support/registry_support.h"
#include "tests/support/temp_dir.h"

namespace vesk::testing {
namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\n\n";
constexpr char kVeskKey[] = "SOFTWARE\\ZELK\\Vesk\\Settings";

class RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override { plat::UseRegistryFile(nullptr); }

  // Installs a file of the given text and reads EnableVesk from it.
  std::int32_t ReadWith(const std::string& text) {
    EXPECT_TRUE(plat::UseRegistryFile(directory.Write("registry.reg", text).c_str())) << text;
    return plat::ReadEnableFlag(kVeskKey, "EnableVesk");
  }
  // EnableVesk with the given data, through the platform's registry.
  std::int32_t ReadValue(const std::string& data) {
    EXPECT_TRUE(registry.Install({{kVeskKey, "EnableVesk", data}})) << data;
    return plat::ReadEnableFlag(kVeskKey, "EnableVesk");
  }

  TempDir directory;
  TestRegistry registry;
};

TEST_F(RegistryTest, ValueTypesAndLengthsAsTheFlagReaderSeesThem) {
  struct Case {
    const char* data;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"dword:00000001", 1},
      {"dword:1", 1},
      {"dword:00010001", 0x00010001},  // the caller keeps the low 16 bits
      {"dword:ffffffff", -1},
      {"dword:00000000", 0},
      {"\"1\"", 49},              // the bytes '1' and NUL
      {"\"\"", 0},                // just the NUL
      {"\"ab\"", 0x00006261},     // three bytes, zero-filled
      {"\"abc\"", 0x00636261},    // four bytes with the NUL: fits
      {"\"abcd\"", 0},            // five bytes: too long for the buffer
      {"hex:01,00", 1},           // two bytes
      {"hex:01", 1},              // one byte
      {"hex:", 0},                // no bytes
      {"hex:01,00,00,00", 1},     // four bytes
      {"hex:01,00,00,00,00", 0},  // five bytes: too long
      {"hex:ff,ff", 0xFFFF},
      {"hex(4):02,00,00,00", 2},
      {"hex(1):31,00,00,00", 49},  // a string stored as UTF-16: read as "1\0"
      {"hex(b):01,00,00,00,00,00,00,00", 0},  // a 64-bit number does not fit
  };
  for (const Case& c : cases) EXPECT_EQ(ReadValue(c.data), c.expected) << c.data;
}

TEST_F(RegistryTest, MissingKeysAndValuesReadAsZeroInTheRegistry) {
  ASSERT_TRUE(registry.Install({{kVeskKey, "Other", "dword:00000001"}, {kVeskKey, "EnableVesk", ""}}));
  EXPECT_EQ(plat::ReadEnableFlag(kVeskKey, "EnableVesk"), 0);
  EXPECT_EQ(plat::ReadEnableFlag(kVeskKey, "Other"), 1);
  EXPECT_EQ(plat::ReadEnableFlag("SOFTWARE\\ZELK\\Nothing", "EnableVesk"), 0);
  plat::RegistryKey key = nullptr;
  EXPECT_NE(plat::OpenLocalMachineKey("SOFTWARE\\ZELK\\Nothing", &key), plat::kRegistryOk);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndLongValuesSayHowLongTheyAre) {
  ASSERT_TRUE(registry.Install({{kVeskKey, "EnableVesk", "dword:00000001"}, {kVeskKey, "Text", "\"hello\""}}));
  EXPECT_EQ(plat::ReadEnableFlag("software\\zelk\\VESK\\settings", "ENABLEvesk"), 1);
  plat::RegistryKey key = nullptr;
  ASSERT_EQ(plat::OpenLocalMachineKey("SOFTWARE\\ZELK", &key), plat::kRegistryOk);  // a parent key
  plat::CloseRegistryKey(key);
  ASSERT_EQ(plat::OpenLocalMachineKey(kVeskKey, &key), plat::kRegistryOk);
  std::uint8_t data[8] = {};
  std::uint32_t size = 4;
  EXPECT_EQ(plat::QueryRegistryValue(key, "Text", data, &size), plat::kRegistryMoreData);
  EXPECT_EQ(size, 6u);
  size = sizeof data;
  EXPECT_EQ(plat::QueryRegistryValue(key, "Text", data, &size), plat::kRegistryOk);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "hello");
  plat::CloseRegistryKey(key);
}

#if !defined(_WIN32)
// The registry export file's own forms.

TEST_F(RegistryTest, MalformedValuesAreSkippedAndReadAsMissing) {
  for (const char* data : {"dword:zz", "dword:123456789", "dword:", "dword 1", "1", "hex:1,0g", "hex:100",
                           "hex(4:01", "\"unclosed", "\"1\" trailing", "word:00000001"}) {
    EXPECT_EQ(ReadWith(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n\"EnableVesk\"=" +
                       data + "\n"),
              0)
        << data;
  }
  // A broken line does not spoil the lines after it.
  EXPECT_EQ(ReadWith(std::string(kHeader) +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n"
                     "\"EnableVesk\"=dword:zz\n"
                     "\"EnableVesk\n"
                     "garbage\n"
                     "\"EnableVesk\"=dword:00000001\n"),
            1);
}

TEST_F(RegistryTest, MissingKeysAndValuesReadAsZero) {
  const std::string text = std::string(kHeader) +
                           "\"EnableVesk\"=dword:00000001\n"  // before any key: belongs to none
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n"
                           "\"Other\"=dword:00000001\n"
                           "[HKEY_CURRENT_USER\\SOFTWARE\\ZELK\\Fenk\\Settings]\n"
                           "\"EnableFenk\"=dword:00000001\n";
  EXPECT_EQ(ReadWith(text), 0);
  EXPECT_EQ(plat::ReadEnableFlag("SOFTWARE\\ZELK\\Fenk\\Settings", "EnableFenk"), 0);  // other hive
  EXPECT_EQ(plat::ReadEnableFlag("SOFTWARE\\ZELK\\Nothing", "EnableVesk"), 0);

  ASSERT_TRUE(plat::UseRegistryFile(""));  // an empty registry
  EXPECT_EQ(plat::ReadEnableFlag(kVeskKey, "EnableVesk"), 0);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
  const std::string text = std::string(kHeader) +
                           "[hkey_local_machine\\software\\zelk\\VESK\\settings]\n"
                           "\"ENABLEvesk\"=dword:00000001\n";
  EXPECT_EQ(ReadWith(text), 1);
  EXPECT_EQ(plat::ReadEnableFlag("software\\zelk\\vesk\\SETTINGS", "enablevesk"), 1);
}

TEST_F(RegistryTest, LaterLinesOverrideAndDeletionsRemove) {
  const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n";
  EXPECT_EQ(ReadWith(std::string(kHeader) + section + "\"EnableVesk\"=dword:00000002\n" +
                     "\"EnableVesk\"=dword:00000001\n"),
            1);
  EXPECT_EQ(ReadWith(std::string(kHeader) + section + "\"EnableVesk\"=dword:00000001\n" + "\"EnableVesk\"=-\n"), 0);
  EXPECT_EQ(ReadWith(std::string(kHeader) + section + "\"EnableVesk\"=dword:00000001\n" +
                     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK]\n"),
            0);
}

TEST_F(RegistryTest, FileEncodingsAndLineForms) {
  const std::string body =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\r\n"
      "; a comment\r\n"
      "\"EnableVesk\"=hex:01,\\\r\n"
      "  00\r\n";
  EXPECT_EQ(ReadWith("Windows Registry Editor Version 5.00\r\n\r\n" + body), 1);  // CR LF, continued hex
  EXPECT_EQ(ReadWith("\xEF\xBB\xBF" "Windows Registry Editor Version 5.00\n" + body), 1);  // UTF-8 mark
  EXPECT_EQ(ReadWith("REGEDIT4\n" + body), 1);

  // As the registry editor saves it: UTF-16 little-endian with a mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n") + body) {
    utf16 += c;
    utf16 += '\0';
  }
  EXPECT_EQ(ReadWith(utf16), 1);
}

TEST_F(RegistryTest, FilesThatAreNoRegistryExportAreRejected) {
  const std::string notExport = directory.Write("plain.txt", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n"
                                                             "\"EnableVesk\"=dword:00000001\n");
  EXPECT_FALSE(plat::UseRegistryFile(notExport.c_str()));
  EXPECT_EQ(plat::ReadEnableFlag(kVeskKey, "EnableVesk"), 0);
  EXPECT_FALSE(plat::UseRegistryFile(directory.File("missing.reg").c_str()));
  EXPECT_EQ(plat::ReadEnableFlag(kVeskKey, "EnableVesk"), 0);
}

TEST_F(RegistryTest, DevicesAndOversizedFilesAreRefusedWithAReason) {
  std::string large = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n\"EnableVesk\"=dword:1\n";
  large.resize(plat::kMaxRegistryFileBytes + 1, ';');
  const struct {
    std::string path;
    const char* problem;
  } cases[] = {
      {"/dev/zero", "is not a regular file"},
      {directory.path(), "is not a regular file"},
      {directory.Write("large.reg", large), "is larger than 1 MB"},
  };
  for (const auto& c : cases) {
    const char* problem = nullptr;
    EXPECT_FALSE(plat::UseRegistryFile(c.path.c_str(), &problem)) << c.path;
    EXPECT_STREQ(problem, c.problem) << c.path;
  }
  large.resize(plat::kMaxRegistryFileBytes);
  EXPECT_EQ(ReadWith(large), 1);  // exactly the limit is still read
}

TEST_F(RegistryTest, KeysOpenLikeRegistryKeys) {
  ReadWith(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZELK\\Vesk\\Settings]\n\"Text\"=\"hello\"\n");
  plat::RegistryKey key = nullptr;
  // A key named only as the parent of another exists, without values.
  ASSERT_EQ(plat::OpenLocalMachineKey("SOFTWARE\\ZELK", &key), plat::kRegistryOk);
  std::uint32_t size = 4;
  std::uint8_t data[8] = {};
  EXPECT_EQ(plat::QueryRegistryValue(key, "Text", data, &size), plat::kRegistryNotFound);
  plat::CloseRegistryKey(key);
  EXPECT_EQ(plat::OpenLocalMachineKey("SOFTWARE\\ZEL", &key), plat::kRegistryNotFound);  // not a prefix match

  ASSERT_EQ(plat::OpenLocalMachineKey(kVeskKey, &key), plat::kRegistryOk);
  size = 4;
  EXPECT_EQ(plat::QueryRegistryValue(key, "Text", data, &size), plat::kRegistryMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(data[0], 0);  // untouched
  size = sizeof data;
  EXPECT_EQ(plat::QueryRegistryValue(key, "Text", data, &size), plat::kRegistryOk);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "hello");
  plat::CloseRegistryKey(key);
}

#endif  // !_WIN32

}  // namespace
}  // namespace vesk::testing
