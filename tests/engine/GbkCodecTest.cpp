// Where iconv and code page 936 could part ways, both codecs give the same
// results: this suite runs in the Linux and in the Windows builds.
#include <gtest/gtest.h>

#include "GbkCodec.h"

namespace pelmora::testing {
namespace {

TEST(GbkCodec, BothPlatformsAgreeAtTheEdgesOfGbk) {
    // The euro sign is GBK's one single byte above ASCII.
    EXPECT_EQ(Utf8ToGbk("\xE2\x82\xAC").value(), "\x80");
    EXPECT_EQ(GbkToUtf8("\x80").value(), "\xE2\x82\xAC");
    // The user-defined areas are no text, either way.
    EXPECT_FALSE(Utf8ToGbk("\xEE\x80\x80"));
    EXPECT_FALSE(GbkToUtf8("\xAA\xA1"));
    // One replacement per byte that does not convert, and on with the next.
    EXPECT_EQ(GbkToUtf8Lossy("\xAA\xA1"
                             "B\xC4\xAC\xFF"),
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "B\xE9\xBB\x98\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToGbk("").value(), "");
    EXPECT_EQ(GbkToUtf8Lossy(""), "");
}

}  // namespace
}  // namespace pelmora::testing
