#include "common/Text.h"
#include "common/Bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ordana::testing {
namespace {

using text::foldCase;
using text::isValidUtf8;
using text::kQuotedCharacters;
using text::latin1ToUtf8;
using text::quotedExcerpt;
using text::utf16ToUtf8;
using text::utf8ToUtf16;

// UTF-8 of U+FFFD, what every ill-formed sequence becomes.
const std::string R = "\xEF\xBF\xBD";

struct Utf16Case {
    const char* name;
    std::u16string in;
    std::string out;
};

class Utf16ToUtf8 : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16ToUtf8, EachLoneSurrogateBecomesOneReplacement) {
    const auto& c = GetParam();
    const std::string got = utf16ToUtf8(c.in);
    EXPECT_EQ(got, c.out);
    EXPECT_TRUE(isValidUtf8(got));
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf16ToUtf8,
    ::testing::Values(Utf16Case{"ascii", u"SPECIA", "SPECIA"},
                      Utf16Case{"romanian", u"\u0219\u021B\u0103", "\xC8\x99\xC8\x9B\xC4\x83"},
                      Utf16Case{"pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
                      Utf16Case{"highAtEnd", u"a\xD800", "a" + R},
                      Utf16Case{"highBeforeLetter",
                                u"\xD800"
                                u"A",
                                R + "A"},
                      Utf16Case{"lowAlone",
                                u"\xDC00"
                                u"b",
                                R + "b"},
                      Utf16Case{"reversedPair", u"\xDC00\xD800", R + R},
                      Utf16Case{"twoHighs", u"\xD800\xD800\xDC00", R + "\xF0\x90\x80\x80"},
                      Utf16Case{"nul", std::u16string(1, u'\0'), std::string(1, '\0')}),
    [](const auto& info) { return std::string(info.param.name); });

struct Utf8Case {
    const char* name;
    std::string in;
    std::u16string out;
};

class Utf8ToUtf16 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToUtf16, IllFormedBytesBecomeReplacementsAndTheRestSurvives) {
    const auto& c = GetParam();
    EXPECT_EQ(utf8ToUtf16(c.in), c.out);
    // Validity and conversion follow the same rule: valid text survives a round trip unchanged, and only it.
    EXPECT_EQ(isValidUtf8(c.in), utf16ToUtf8(utf8ToUtf16(c.in)) == c.in);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf8ToUtf16,
    ::testing::Values(Utf8Case{"ascii", "ABUNDENTA", u"ABUNDENTA"},
                      Utf8Case{"twoByte", "\xC8\x99", u"\u0219"},
                      Utf8Case{"fourByte", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
                      Utf8Case{"replacementItself", R, u"\xFFFD"},
                      Utf8Case{"strayContinuation",
                               "a\x80"
                               "b",
                               u"a\xFFFD"
                               u"b"},
                      Utf8Case{"truncatedAtEnd", "a\xE2\x82", u"a\xFFFD"},
                      Utf8Case{"truncatedBeforeLetter",
                               "\xE2\x82"
                               "A",
                               u"\xFFFD"
                               u"A"},
                      Utf8Case{"overlongTwoByte", "\xC0\xAF", u"\xFFFD\xFFFD"},
                      Utf8Case{"overlongThreeByte", "\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},
                      Utf8Case{"encodedSurrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},
                      Utf8Case{"pastLastCodePoint", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
                      Utf8Case{"invalidLead",
                               "\xF5"
                               "x",
                               u"\xFFFD"
                               u"x"},
                      Utf8Case{"latin1NotUtf8", "p\xE2r",
                               u"p\xFFFD"
                               u"r"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Text, Latin1BytesAreTheirOwnCodePoints) {
    EXPECT_EQ(latin1ToUtf8("caf\xE9 \xFF\x80"), "caf\xC3\xA9 \xC3\xBF\xC2\x80");
    EXPECT_TRUE(isValidUtf8(latin1ToUtf8("\x80\x9F\xA0\xFF")));
}

struct FoldCase {
    std::string a;
    std::string b;
    bool same;
};

class Folding : public ::testing::TestWithParam<FoldCase> {};

TEST_P(Folding, NamesCompareByAsciiAndLatin1UpperCase) {
    const auto& c = GetParam();
    EXPECT_EQ(foldCase(c.a) == foldCase(c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(text::foldCase(utf8ToUtf16(c.a)) == text::foldCase(utf8ToUtf16(c.b)), c.same);
}

INSTANTIATE_TEST_SUITE_P(Text, Folding,
                         ::testing::Values(FoldCase{"specia", "SPECIA", true},
                                           FoldCase{"Workbook", "WORKBOOK", true},
                                           FoldCase{"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true}, // été
                                           FoldCase{"\xC3\xB7", "\xC3\x97", false}, // division, times
                                           FoldCase{"\xC3\xBF", "\xC5\xB8", false}, // ÿ stays itself
                                           FoldCase{"\xC3\x9F", "SS", false},       // ß is not expanded
                                           FoldCase{"Foaie1", "Foaie 1", false}));

// What a file holds is quoted in a message at a bounded length, whole characters, on one line.
TEST(Text, QuotedExcerptsAreBounded) {
    const std::string sixty(kQuotedCharacters, 'a');
    const std::string a = "\xC4\x83"; // ă, two bytes
    std::string sixtyA;
    for (std::size_t i = 0; i < kQuotedCharacters; ++i)
        sixtyA += a;
    const std::pair<std::string, std::string> cases[] = {
        {"Date", "\"Date\""},
        {sixty, "\"" + sixty + "\""},
        {sixty + "b", "\"" + sixty + "...\""},
        {sixtyA + a, "\"" + sixtyA + "...\""},
        {"a\nb\tc", "\"a b c\""},
        {std::string(100 << 20, 'x'), "\"" + std::string(kQuotedCharacters, 'x') + "...\""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(quotedExcerpt(in), out);
}

// High bits must not sign-extend through int promotion.
TEST(Bytes, HighBitsReadAsUnsignedAndWriteBack) {
    const std::uint8_t all[8] = {0xFF, 0xFE, 0x00, 0x80, 0x01, 0x00, 0x00, 0x80};
    EXPECT_EQ(bytes::get16(all), 0xFEFFu);
    EXPECT_EQ(bytes::get32(all), 0x8000FEFFu);
    EXPECT_EQ(bytes::get64(all), 0x800000018000FEFFull);
    std::uint8_t out[8] = {};
    bytes::put64(out, bytes::get64(all));
    EXPECT_TRUE(std::equal(out, out + 8, all));
    std::vector<std::uint8_t> appended;
    bytes::append64(appended, bytes::get64(all));
    EXPECT_TRUE(std::equal(appended.begin(), appended.end(), all));
}

} // namespace
} // namespace ordana::testing
