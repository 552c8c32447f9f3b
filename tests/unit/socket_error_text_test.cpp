// Socket error texts: the 49 rows (stored in code page 932) and the format
// for every other code.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "server/socket_error_text.h"

namespace vesk {
namespace {

// Code page 932 bytes of the texts used below.
const std::string kAddressInUse = "\x83\x41\x83h\x83\x8c\x83X\x82\xcd\x8eg\x97p\x92\x86";  // アドレスは使用中
const std::string kOutOfMemory = "\x83\x81\x83\x82\x83\x8a\x95s\x91\xab";                 // メモリ不足
const std::string kUnknownPrefix = "\x96\xa2\x92m\x82\xccWSA\x83G\x83\x89\x81[";          // 未知のWSAエラー

TEST(SocketErrorText, ListedCodesGiveTheirTexts) {
  EXPECT_EQ(SocketErrorText(10048), kAddressInUse);
  EXPECT_EQ(SocketErrorText(10055), kOutOfMemory);
  EXPECT_EQ(SocketErrorText(8), kOutOfMemory);
  EXPECT_EQ(std::string(SocketErrorText(11002)), "\x83g\x83\x89\x83\x43\x83\x41\x83Q\x83\x93");  // トライアゲン
  EXPECT_EQ(std::string(SocketErrorText(10039)), "Dest\x83\x41\x83h\x83\x8c\x83X\x82\xaa\x95K\x97v");  // Destアドレスが必要
}

TEST(SocketErrorText, EveryListedCodeHasAFixedText) {
  const unsigned codes[] = {6,     8,     87,    995,   996,   997,   10004, 10013, 10014, 10022,
                            10024, 10035, 10036, 10037, 10038, 10039, 10040, 10041, 10042, 10043,
                            10044, 10045, 10046, 10047, 10048, 10049, 10050, 10051, 10052, 10053,
                            10054, 10055, 10056, 10057, 10058, 10060, 10061, 10064, 10065, 10067,
                            10091, 10092, 10093, 10101, 10107, 11001, 11002, 11003, 11004};
  std::set<std::string> texts;
  for (unsigned code : codes) {
    const std::string text = SocketErrorText(code);
    EXPECT_EQ(text.rfind(kUnknownPrefix, 0), std::string::npos) << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 48u);  // 8 and 10055 share their text
}

TEST(SocketErrorText, UnlistedCodesAreFormattedAsSignedDecimal) {
  EXPECT_EQ(SocketErrorText(0), kUnknownPrefix + "(0)");
  EXPECT_EQ(SocketErrorText(10059), kUnknownPrefix + "(10059)");
  EXPECT_EQ(SocketErrorText(0xFFFFFFFFu), kUnknownPrefix + "(-1)");
}

}  // namespace
}  // namespace vesk
