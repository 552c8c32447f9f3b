// The resource texts are stored in code page 932; read back they must be
// exactly the Japanese texts of the menus and the about box.
#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "app/resources.h"

namespace vesk::testing {
namespace {

#if defined(_WIN32)
std::string Utf8FromCodePage932(const char* text) {
  wchar_t wide[256];
  const int units = ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, wide, 256);
  if (units == 0) return "<not code page 932>";
  char out[1024];
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, sizeof out, nullptr, nullptr);
  return bytes > 0 ? std::string(out) : "<no converter>";
}
#else
std::string Utf8FromCodePage932(const char* text) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in(text);
  std::string out(in.size() * 4 + 1, '\0');
  char* inPointer = in.data();
  std::size_t inLeft = in.size();
  char* outPointer = out.data();
  std::size_t outLeft = out.size();
  const std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) return "<not code page 932>";
  out.resize(out.size() - outLeft);
  return out;
}
#endif

TEST(ResourcesTest, JapaneseTextsAreTheHalfWidthKatakanaOfTheMenusAndAboutBox) {
  const std::pair<const char*, const char*> texts[] = {
      {resources::kClassMenuPopups[0].text, "ﾌｧｲﾙ(&F)"},
      {resources::kClassMenuPopups[0].items[0].text, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"},
      {resources::kClassMenuPopups[1].text, "ﾍﾙﾌﾟ(&H)"},
      {resources::kClassMenuPopups[1].items[0].text, "ﾊﾞｰｼﾞｮﾝ情報(&A) ..."},
      {resources::kDialogs[0].caption, "ﾊﾞｰｼﾞｮﾝ情報"},
  };
  for (const auto& [stored, expected] : texts) EXPECT_EQ(Utf8FromCodePage932(stored), expected);
  EXPECT_EQ(resources::kClassMenuPopups[0].items[0].command, IDM_EXIT);
  EXPECT_EQ(resources::kClassMenuPopups[1].items[0].command, IDM_ABOUT);
  EXPECT_STREQ(resources::kContextMenuPopups[0].items[0].text, "EXIT VESK");
  EXPECT_EQ(resources::kContextMenuPopups[0].items[0].command, IDM_EXIT);
}

}  // namespace
}  // namespace vesk::testing
