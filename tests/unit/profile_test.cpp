// Private-profile writes: creating, replacing and removing, and keeping
// everything else in the file byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace vesk::testing {
namespace {

// The exact layout of untouched lines (blanks around names, blank lines,
// the file's line ending) is kept on POSIX. On Windows the file is written
// by WritePrivateProfileStringA, which lays out the lines it rewrites its
// own way (CR LF, names trimmed); the values and the structure are the same.
#if defined(_WIN32)
constexpr bool kKeepsLayout = false;
#else
constexpr bool kKeepsLayout = true;
#endif

class ProfileTest : public ::testing::Test {
 protected:
  // Writes `before` (if given), applies one write and returns the file.
  std::string After(const char* before, const char* section, const char* key, const char* value,
                    int expectedResult = 1) {
    const std::string file = directory.File("seminfo.ini");
    if (before != nullptr) directory.Write("seminfo.ini", before);
    EXPECT_EQ(plat::WriteProfileValue(section, key, value, file.c_str()), expectedResult);
    return ReadFileBytes(file);
  }

  TempDir directory;
};

TEST_F(ProfileTest, CreatesTheFileSectionAndKey) {
  EXPECT_EQ(After(nullptr, "FENKOR", "Include", "ON"), "[FENKOR]\r\nInclude=ON\r\n");
  EXPECT_EQ(After("", "FENKOR", "Include", "ON"), "[FENKOR]\r\nInclude=ON\r\n");
  // A new section goes at the end; a last line without an ending gets one.
  EXPECT_EQ(After("[Other]\r\nA=1", "FENKOR", "Path", "C:\\img.bmp"),
            "[Other]\r\nA=1\r\n[FENKOR]\r\nPath=C:\\img.bmp\r\n");
  // A new key goes after the section's last entry, before blank lines.
  EXPECT_EQ(After("[FENKOR]\r\nInclude=ON\r\n\r\n[Other]\r\nA=1\r\n", "FENKOR", "Format", "BMP"),
            kKeepsLayout ? "[FENKOR]\r\nInclude=ON\r\nFormat=BMP\r\n\r\n[Other]\r\nA=1\r\n"
                         : "[FENKOR]\r\nInclude=ON\r\nFormat=BMP\r\n[Other]\r\nA=1\r\n");
  EXPECT_EQ(After("[FENKOR]\r\n[Other]\r\n", "FENKOR", "Format", "BMP"), "[FENKOR]\r\nFormat=BMP\r\n[Other]\r\n");
  EXPECT_EQ(After("[FENKOR]", "FENKOR", "Format", "BMP"), "[FENKOR]\r\nFormat=BMP\r\n");
}

TEST_F(ProfileTest, ReplacesOnlyTheKeysValue) {
  const char* before =
      "; image settings\r\n"
      "[Other]\r\n"
      "Format=TIFF\r\n"
      "[FENKOR]\r\n"
      "Include=ON\r\n"
      "; Format=JPEG\r\n"
      "Format = TIFF\r\n"
      "Path=C:\\old.bmp\r\n"
      "Format=second\r\n";
  EXPECT_EQ(After(before, "FENKOR", "Format", "BMP"),
            "; image settings\r\n"
            "[Other]\r\n"
            "Format=TIFF\r\n"
            "[FENKOR]\r\n"
            "Include=ON\r\n"
            "; Format=JPEG\r\n" +
                std::string(kKeepsLayout ? "Format =BMP\r\n" : "Format=BMP\r\n") +
            "Path=C:\\old.bmp\r\n"
            "Format=second\r\n");
  EXPECT_EQ(After("[FENKOR]\r\nPath=x\r\n", "FENKOR", "Path", ""), "[FENKOR]\r\nPath=\r\n");
}

TEST_F(ProfileTest, SectionAndKeyNamesIgnoreCase) {
  EXPECT_EQ(After("[fenkor]\r\ninclude=ON\r\n", "FENKOR", "Include", "OFF"), "[fenkor]\r\ninclude=OFF\r\n");
  EXPECT_EQ(After("[ FenKor ]\r\nPATH=a\r\n", "fenkor", "path", "b"),
            kKeepsLayout ? "[ FenKor ]\r\nPATH=b\r\n" : "[FenKor]\r\nPATH=b\r\n");
}

TEST_F(ProfileTest, KeepsTheFilesLineEnding) {
  if (!kKeepsLayout) GTEST_SKIP() << "Windows writes CR LF";
  EXPECT_EQ(After("[FENKOR]\nInclude=ON\n", "FENKOR", "Format", "BMP"), "[FENKOR]\nInclude=ON\nFormat=BMP\n");
  EXPECT_EQ(After("[A]\nx=1\n", "FENKOR", "Format", "BMP"), "[A]\nx=1\n[FENKOR]\nFormat=BMP\n");
  EXPECT_EQ(After("[FENKOR]\r\nInclude=ON\r\n", "FENKOR", "Include", "OFF"), "[FENKOR]\r\nInclude=OFF\r\n");
}

TEST_F(ProfileTest, NullValueRemovesTheKeyAndNullKeyTheSection) {
  const char* before = "[FENKOR]\r\nInclude=ON\r\nPath=p\r\n[Other]\r\nA=1\r\n";
  EXPECT_EQ(After(before, "FENKOR", "Include", nullptr), "[FENKOR]\r\nPath=p\r\n[Other]\r\nA=1\r\n");
  EXPECT_EQ(After(before, "FENKOR", nullptr, nullptr), "[Other]\r\nA=1\r\n");
  EXPECT_EQ(After(before, "FENKOR", "Missing", nullptr), before);
  EXPECT_EQ(After(before, "Missing", nullptr, nullptr), before);
}

TEST_F(ProfileTest, RefusesWhatWouldBreakTheFile) {
  const char* before = "[FENKOR]\r\nPath=p\r\n";
  EXPECT_EQ(After(before, "FENKOR", "Path", "a\r\n[Injected]\r\nKey=1", 0), before);
  EXPECT_EQ(After(before, "FENKOR", "Pa\nth", "x", 0), before);
  EXPECT_EQ(After(before, "FEN]KOR", "Path", "x", 0), before);
  EXPECT_EQ(After(before, "FENKOR", "Pa=th", "x", 0), before);
  EXPECT_EQ(After(before, "", "Path", "x", 0), before);
  EXPECT_EQ(After(before, "FENKOR", "", "x", 0), before);
  EXPECT_EQ(plat::WriteProfileValue("FENKOR", "Path", "x", directory.File("no/such/dir/seminfo.ini").c_str()), 0);
  EXPECT_EQ(plat::WriteProfileValue("FENKOR", "Path", "x", ""), 0);
}

TEST_F(ProfileTest, ConsecutiveWritesBuildTheImageSettings) {
  const std::string file = directory.File("seminfo.ini");
  ASSERT_EQ(plat::WriteProfileValue("FENKOR", "Include", "OFF", file.c_str()), 1);
  ASSERT_EQ(plat::WriteProfileValue("FENKOR", "Format", "BMP", file.c_str()), 1);
  ASSERT_EQ(plat::WriteProfileValue("FENKOR", "Path", "C:\\images\\a.bmp", file.c_str()), 1);
  ASSERT_EQ(plat::WriteProfileValue("FENKOR", "Include", "ON", file.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(file), "[FENKOR]\r\nInclude=ON\r\nFormat=BMP\r\nPath=C:\\images\\a.bmp\r\n");
}

// What a write killed half-way leaves is removed at start-up; nothing else.
TEST_F(ProfileTest, StartUpRemovesTheTemporariesOfInterruptedWrites) {
  if (!kKeepsLayout) GTEST_SKIP() << "Windows writes leave no temporaries";
  for (const char* name : {"seminfo.ini", "seminfo.ini.a1B2c3", "seminfo.ini.Zz9Yy8", "seminfo.ini.bak",
                           "seminfo.ini.abc", "other.ini.a1B2c3"}) {
    directory.Write(name, "x");
  }
  EXPECT_EQ(plat::RemoveProfileLeftovers(directory.File("seminfo.ini").c_str()), 2);
  for (const char* kept : {"seminfo.ini", "seminfo.ini.bak", "seminfo.ini.abc", "other.ini.a1B2c3"}) {
    EXPECT_EQ(ReadFileBytes(directory.File(kept)), "x") << kept;
  }
  EXPECT_EQ(ReadFileBytes(directory.File("seminfo.ini.a1B2c3")), "");
}

// The start-up check of the settings folder: a probe file is made and
// removed, so nothing is left behind, and a file where the folder should
// be counts as missing.
TEST_F(ProfileTest, SettingsFolderCheckTellsMissingFromWritable) {
  EXPECT_EQ(plat::CheckSettingsFolder(directory.File("seminfo.ini").c_str()), plat::SettingsFolder::kWritable);
  EXPECT_EQ(plat::CheckSettingsFolder(directory.File("none" + std::string(TempDir::kSeparator) + "seminfo.ini").c_str()),
            plat::SettingsFolder::kMissing);
  const std::string file = directory.Write("plain", "x");
  EXPECT_EQ(plat::CheckSettingsFolder((file + TempDir::kSeparator + "seminfo.ini").c_str()),
            plat::SettingsFolder::kMissing);
  EXPECT_EQ(plat::RemoveProfileLeftovers(directory.File("seminfo.ini").c_str()), 0);
  EXPECT_FALSE(FileExists(directory.File("seminfo.ini")));
}

TEST(FolderOfTest, IsEverythingBeforeTheLastSeparator) {
  EXPECT_EQ(plat::FolderOf("seminfo.ini"), ".");
  EXPECT_EQ(plat::FolderOf("/seminfo.ini"), "/");
  EXPECT_EQ(plat::FolderOf("/run/vesk/seminfo.ini"), "/run/vesk");
#if defined(_WIN32)
  EXPECT_EQ(plat::FolderOf("C:\\SEM\\seminfo.ini"), "C:\\SEM");
  EXPECT_EQ(plat::FolderOf("C:\\seminfo.ini"), "C:\\");
#endif
}

}  // namespace
}  // namespace vesk::testing
