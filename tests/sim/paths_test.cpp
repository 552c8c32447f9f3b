// Control-PC paths map into the one image folder, whatever a client sends.
#include <atomic>
#include <cstdio>  // renameat2
#include <fcntl.h>
#include <fstream>
#include <thread>

#include "sim/image_paths.h"
#include "sim/profile_file.h"
#include "tests/sim/sim_fixture.h"

namespace vesk::sim::testing {
namespace {

struct Mapping {
  const char* windowsPath;
  const char* relative;
};

constexpr Mapping kMappings[] = {
    {"C:\\images\\a.bmp", "images/a.bmp"},
    {"c:/images/a.bmp", "images/a.bmp"},
    {"a.bmp", "a.bmp"},
    {"C:a.bmp", "a.bmp"},
    {"\\\\server\\share\\dir\\a.bmp", "dir/a.bmp"},
    {"//server/share/a.bmp", "a.bmp"},
    {"\\\\?\\C:\\deep\\a.bmp", "deep/a.bmp"},
    {"\\\\?\\UNC\\server\\share\\d\\a.bmp", "d/a.bmp"},
    {"\\\\.\\C:\\a.bmp", "a.bmp"},
    {"..\\..\\..\\etc\\passwd", "etc/passwd"},
    {"C:\\a\\..\\..\\..\\b.bmp", "b.bmp"},
    {"C:\\a\\.\\b\\..\\c.bmp", "a/c.bmp"},
    {"/etc/cron.d/x", "etc/cron.d/x"},
    {"C:\\x\\a.bmp:stream", "x/a.bmp_stream"},
    {"C:\\CON.bmp", "_CON.bmp"},
    {"d\\nul", "d/_nul"},
    {"d\\Com1.txt", "d/_Com1.txt"},
    {"a<b>|?*\".bmp", "a_b_____.bmp"},
    {"\x01\x7F\xFF\x82\xA0.bmp", "_____.bmp"},
    {"dir. \\a.bmp ", "dir/a.bmp"},
    {".. \\a.bmp", "a.bmp"},
    {"C:\\\\\\a.bmp", "a.bmp"},
    {"~\\$HOME\\a.bmp", "~/$HOME/a.bmp"},
};

TEST(ControlPcPathTest, PathsMapBelowTheFolder) {
  for (const Mapping& m : kMappings) {
    const std::optional<std::filesystem::path> mapped = MapControlPcPath(m.windowsPath);
    ASSERT_TRUE(mapped) << m.windowsPath;
    EXPECT_EQ(mapped->generic_string(), m.relative) << m.windowsPath;
  }
}

TEST(ControlPcPathTest, PathsThatNameNoFileAreRefused) {
  const std::string longName(kLongestComponent + 1, 'a');
  std::string deep;
  for (std::size_t i = 0; i <= kDeepestPath; ++i) deep += "d\\";
  deep += "a.bmp";
  const std::string refused[] = {"",   "C:",      "C:\\",          "C:\\images\\", "\\\\server\\share",
                                 "\\\\server\\share\\", "a\\..", "...", "C:\\a\\.",     ". .",
                                 longName, "C:\\" + longName + "\\a.bmp", deep};
  for (const std::string& path : refused) EXPECT_FALSE(MapControlPcPath(path)) << path;
  EXPECT_TRUE(MapControlPcPath(std::string(kLongestComponent, 'a')));
}

// Whatever the bytes, a mapped path is relative, climbs nowhere and holds
// only portable names.
TEST(ControlPcPathTest, HostileBytesNeverLeaveTheFolder) {
  constexpr char kAlphabet[] = {'\\', '/', '.', '.', ':', 'C', 'a', ' ', '?', '*', '\0' + 1, '\x80', '\xFF', '~', '$'};
  std::uint64_t state = 12345;
  for (int round = 0; round < 5000; ++round) {
    std::string path;
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const auto length = static_cast<std::size_t>(1 + (state >> 59));
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      path.push_back(kAlphabet[(state >> 33) % sizeof kAlphabet]);
    }
    const std::optional<std::filesystem::path> mapped = MapControlPcPath(path);
    if (!mapped) continue;
    SCOPED_TRACE(path);
    EXPECT_FALSE(mapped->has_root_path());
    for (const std::filesystem::path& part : *mapped) {
      const std::string name = part.string();
      ASSERT_FALSE(name.empty());
      EXPECT_NE(name, "..");
      EXPECT_NE(name, ".");
      EXPECT_NE(name.back(), '.');
      for (char c : name) {
        EXPECT_TRUE(std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos && static_cast<unsigned char>(c) >= 0x20 &&
                    static_cast<unsigned char>(c) != 0x7F)
            << "byte " << static_cast<int>(static_cast<unsigned char>(c));
      }
    }
  }
}

class ConfinedWriteTest : public SimTest {};

TEST_F(ConfinedWriteTest, ALinkOnTheWayIsNotFollowed) {
  const std::filesystem::path outside = root_ / "outside";
  std::filesystem::create_directories(outside);
  std::filesystem::create_directories(images_);
  std::error_code linked;
  std::filesystem::create_directory_symlink(outside, images_ / "escape", linked);
  if (linked) GTEST_SKIP() << "no symbolic links here: " << linked.message();
  EXPECT_FALSE(WriteConfined(images_, "escape/a.bmp", {1, 2, 3}));
  EXPECT_FALSE(WriteConfined(images_, "escape/new/a.bmp", {1, 2, 3}));
  EXPECT_TRUE(std::filesystem::is_empty(outside));
}

TEST_F(ConfinedWriteTest, ALinkInPlaceOfTheFileIsReplacedNotWrittenThrough) {
  const std::filesystem::path victim = root_ / "victim.txt";
  std::ofstream(victim) << "keep";
  std::filesystem::create_directories(images_);
  std::error_code linked;
  std::filesystem::create_symlink(victim, images_ / "a.bmp", linked);
  if (linked) GTEST_SKIP() << "no symbolic links here: " << linked.message();
  std::filesystem::create_symlink(victim, images_ / "b.bmp.vesk-part");
  EXPECT_TRUE(WriteConfined(images_, "a.bmp", {1, 2, 3}));
  EXPECT_TRUE(WriteConfined(images_, "b.bmp", {4, 5}));
  EXPECT_FALSE(std::filesystem::is_symlink(images_ / "a.bmp"));
  EXPECT_EQ(ReadBytes(images_ / "a.bmp"), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(ReadBytes(images_ / "b.bmp"), (std::vector<std::uint8_t>{4, 5}));
  EXPECT_EQ(ReadBytes(victim), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
}

// A folder on the way swapped for a link to outside while captures are
// written, back and forth: each write either lands inside or fails. Where
// the kernel swaps two names in one step the swap is fastest, and a check
// made before the folder is used is caught out most often.
void SwapNames(const std::filesystem::path& a, const std::filesystem::path& b) {
#if defined(RENAME_EXCHANGE)
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return;
#endif
  std::error_code ignored;
  std::filesystem::rename(a, a.string() + ".away", ignored);
  std::filesystem::rename(b, a, ignored);
  std::filesystem::rename(a.string() + ".away", b, ignored);
}

TEST_F(ConfinedWriteTest, SwappingAFolderForALinkDuringWritesNeverLeadsOutside) {
  const std::filesystem::path outside = root_ / "outside";
  std::filesystem::create_directories(outside);
  std::filesystem::create_directories(images_ / "sub");
  std::error_code linked;
  std::filesystem::create_directory_symlink(outside, images_ / "link", linked);
  if (linked) GTEST_SKIP() << "no symbolic links here: " << linked.message();
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) SwapNames(images_ / "sub", images_ / "link");
  });
  int written = 0;
  // On a loaded machine the swapper can win a thousand times in a row; go
  // on (boundedly) until some write has found the real folder.
  for (int i = 0; i < 1000 || (written == 0 && i < 50000); ++i) {
    const std::string name = "a" + std::to_string(i) + ".bmp";
    written += WriteConfined(images_, std::filesystem::path("sub") / name, {1}) ? 1 : 0;
    written += WriteConfined(images_, std::filesystem::path("sub") / "deeper" / name, {2}) ? 1 : 0;
  }
  done = true;
  swapper.join();
  EXPECT_TRUE(std::filesystem::is_empty(outside));
  EXPECT_GT(written, 0);
}

// The temporaries of writes cut short are removed when the instrument starts.
TEST_F(ConfinedWriteTest, StartUpRemovesLeftoverTemporaries) {
  std::filesystem::create_directories(images_ / "day");
  std::ofstream(images_ / "day" / "a.bmp.vesk-part") << "torn";
  std::ofstream(images_ / "day" / "b.bmp") << "kept";
  Apply();
  EXPECT_FALSE(std::filesystem::exists(images_ / "day" / "a.bmp.vesk-part"));
  EXPECT_TRUE(std::filesystem::exists(images_ / "day" / "b.bmp"));
}

TEST_F(ConfinedWriteTest, RelativePathsThatClimbAreRefused) {
  EXPECT_FALSE(WriteConfined(images_, "../a.bmp", {1}));
  EXPECT_FALSE(WriteConfined(images_, root_ / "a.bmp", {1}));
  EXPECT_FALSE(WriteConfined(images_, "", {1}));
  EXPECT_FALSE(std::filesystem::exists(root_ / "a.bmp"));
}

TEST_F(ConfinedWriteTest, HostileCapturePathsAllLandInsideTheImageFolder) {
  BeamOn();
  const std::string paths[] = {"..\\..\\..\\..\\escape.bmp", "/tmp/escape.bmp", "C:\\..\\escape2.bmp",
                               "\\\\evil\\share\\..\\..\\escape3.bmp", std::string(200, 'x') + ".bmp"};
  for (const std::string& path : paths) {
    const CaptureRecord record = Capture("BMP", path);
    if (!record.written) continue;
    const std::string inside = std::filesystem::relative(record.file, images_).generic_string();
    EXPECT_NE(inside.substr(0, 2), "..") << path;
  }
  std::size_t outside = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
    if (entry.is_regular_file() && entry.path().filename() != "seminfo.ini" &&
        entry.path().parent_path().string().rfind(images_.string(), 0) != 0) {
      ++outside;
    }
  }
  EXPECT_EQ(outside, 0u);
  EXPECT_TRUE(std::filesystem::exists(images_ / "escape.bmp"));
  EXPECT_TRUE(std::filesystem::exists(images_ / "tmp/escape.bmp"));
}

TEST(ProfileFileTest, ReadsTheFirstMatchingSectionAndKeyLikeTheProfileApi) {
  const std::string_view text =
      "\xEF\xBB\xBF; comment\r\n[Other]\r\nPath=wrong\r\n[ fenkor ]\r\n  include = ON \r\nFormat=\"TIFF\"\r\n"
      "Path=C:\\a b\\c.tif\r\nnot a pair\r\npath=second\r\n[FENKOR]\r\nFormat=JPEG\r\n";
  EXPECT_EQ(ProfileStringIn(text, "FENKOR", "Include"), "ON");
  EXPECT_EQ(ProfileStringIn(text, "FENKOR", "Format"), "TIFF");
  EXPECT_EQ(ProfileStringIn(text, "FENKOR", "Path"), "C:\\a b\\c.tif");
  EXPECT_EQ(ProfileStringIn(text, "Other", "Path"), "wrong");
  EXPECT_FALSE(ProfileStringIn(text, "FENKOR", "Missing"));
  EXPECT_FALSE(ProfileStringIn(text, "Nowhere", "Path"));
  EXPECT_FALSE(ReadProfileString(std::filesystem::path("/nonexistent/seminfo.ini"), "FENKOR", "Path"));
  EXPECT_EQ(ProfileStringIn("[FENKOR]\nPath=", "FENKOR", "Path"), "");
}

}  // namespace
}  // namespace vesk::sim::testing
