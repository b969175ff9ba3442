#include "base/text.h"

#include <gtest/gtest.h>

namespace halvo {
namespace {

TEST(TextTest, NumbersAreDecimalDigitsWithinRange) {
    EXPECT_EQ(parseInt64("+03000"), 3000);
    EXPECT_EQ(parseInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseUint64("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(parseHex32("ffffffff"), UINT32_MAX);
    for (const char* bad :
         {"", "+", "-", "+-1", "1 ", " 1", "12a", "1,000", "0x10", "٣", "9223372036854775808"}) {
        EXPECT_EQ(parseInt64(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(parseInt32("2147483648"), std::nullopt);
    for (const char* bad : {"18446744073709551616", "+1", "-0"}) {
        EXPECT_EQ(parseUint64(bad), std::nullopt) << bad;
    }
    for (const char* bad : {"", "100000000", "0x1", "1g", "-1"}) {
        EXPECT_EQ(parseHex32(bad), std::nullopt) << bad;
    }
}

TEST(TextTest, Utf8CaseWhiteSpaceAndPaths) {
    EXPECT_EQ(decodeUtf8Lossy("n\xFFode"), "n\xEF\xBF\xBDode");
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // a surrogate
    EXPECT_EQ(toLower("ÄÖÜ İ"), "äöü i̇");
    EXPECT_EQ(normalizeCanonical("cafe\xCC\x81"), "caf\xC3\xA9");
    EXPECT_EQ(trimWhiteSpace(" \t\u3000 a b\u2028\n"), "a b");
    EXPECT_EQ(trimWhiteSpace("\u00A0\xFF \xFF\u00A0"), "\xFF \xFF");
    EXPECT_EQ(lastPathComponent("/Users/ana/shop//"), "shop");
    EXPECT_EQ(parentDirectory("/opt/homebrew/bin/node"), "/opt/homebrew/bin");
    EXPECT_EQ(parentDirectory("node"), "/");
    EXPECT_EQ(splitNonEmpty("\na\n\nb\n", '\n'), (std::vector<std::string_view>{"a", "b"}));
}

}  // namespace
}  // namespace halvo
