#include "common/text.h"

#include <gtest/gtest.h>

namespace taktor {
namespace {

TEST(FindText, FindsFirstOccurrenceFromStart) {
    EXPECT_EQ(FindText(u"abcabc", u"bc"), 2);
    EXPECT_EQ(FindText(u"abcabc", u"bc", 3), 5);
    EXPECT_EQ(FindText(u"abcabc", u"bc", 5), 5);
    EXPECT_EQ(FindText(u"abcabc", u"bc", 6), 0);
    EXPECT_EQ(FindText(u"abcabc", u"abc", 0), 1);
    EXPECT_EQ(FindText(u"abcabc", u"abc", -7), 1);
    EXPECT_EQ(FindText(u"abc", u"c", 3), 3);
    EXPECT_EQ(FindText(u"abc", u"c", 4), 0);
}

TEST(FindText, EmptyTextsAndCaseFindNothing) {
    EXPECT_EQ(FindText(u"", u"a"), 0);
    EXPECT_EQ(FindText(u"abc", u""), 0);
    EXPECT_EQ(FindText(u"on#", u"ON#"), 0);
    EXPECT_EQ(FindText(u"ab", u"abc"), 0);
    EXPECT_EQ(FindText(u"Такт 1", u"т 1"), 4);
}

TEST(CountText, CountsWithoutOverlap) {
    EXPECT_EQ(CountText(u"aaaa", u"aa"), 2);
    EXPECT_EQ(CountText(u"aaa", u"aa"), 1);
    EXPECT_EQ(CountText(u"on#os#on#", u"on#"), 2);
    EXPECT_EQ(CountText(u"xyz", u"on#"), 0);
    EXPECT_EQ(CountText(u"", u"a"), 0);
    EXPECT_EQ(CountText(u"a", u""), 0);
}

TEST(MiddleText, TakesWhatIsThere) {
    EXPECT_EQ(MiddleText(u"(COM3)", 2, 4), u"COM3");
    EXPECT_EQ(MiddleText(u"abc", 2, 10), u"bc");
    EXPECT_EQ(MiddleText(u"abc", 0, 2), u"ab");
    EXPECT_EQ(MiddleText(u"abc", -3, 1), u"a");
    EXPECT_EQ(MiddleText(u"abc", 4, 1), u"");
    EXPECT_EQ(MiddleText(u"abc", 2, 0), u"");
    EXPECT_EQ(MiddleText(u"abc", 2, -1), u"");
    EXPECT_EQ(MiddleText(u"", 1, 1), u"");
}

TEST(DirectoryPart, KeepsUpToTheLastSeparator) {
    EXPECT_EQ(DirectoryPart(u"C:\\Taktor\\Taktor.exe"), u"C:\\Taktor\\");
    EXPECT_EQ(DirectoryPart(u"/opt/taktor/taktor"), u"/opt/taktor/");
    EXPECT_EQ(DirectoryPart(u"C:\\a/b\\c/d.exe"), u"C:\\a/b\\c/");
    EXPECT_EQ(DirectoryPart(u"Taktor.exe"), u"");
    EXPECT_EQ(DirectoryPart(u""), u"");
    EXPECT_EQ(DirectoryPart(u"\\"), u"\\");
}

TEST(DirectoryPart, SkipsLeadingQuoteAndStopsAtBar) {
    EXPECT_EQ(DirectoryPart(u"\"C:\\Program Files\\Taktor\\Taktor.exe\""),
              u"C:\\Program Files\\Taktor\\");
    EXPECT_EQ(DirectoryPart(u"C:\\a\\b|c\\d"), u"C:\\a\\");
    EXPECT_EQ(DirectoryPart(u"|C:\\a\\"), u"");
    EXPECT_EQ(DirectoryPart(u"\"x.exe"), u"");
}

TEST(Utf8, DecodesAndEncodesRoundTrip) {
    const std::string bytes = "\xEF\xBB\xBFUSB-SERIAL CH340 (COM5) \xD0\x9A \xF0\x9F\x9A\xA6";
    const Text text = TextFromUtf8(bytes);
    EXPECT_EQ(text[0], 0xFEFF);
    EXPECT_EQ(FindText(text, u"USB-SERIAL CH340"), 2);
    EXPECT_EQ(FindText(text, u"К"), 26);
    EXPECT_EQ(text.substr(text.size() - 2), Text({0xD83D, 0xDEA6}));
    EXPECT_EQ(Utf8FromText(text), bytes);
}

TEST(Utf8, MalformedBytesBecomeReplacementCharacters) {
    // A UTF-16 little-endian file read as UTF-8: "A" then zero bytes never form the description.
    EXPECT_EQ(TextFromUtf8(std::string("\xFF\xFE"
                                       "A",
                                       3)),
              Text({0xFFFD, 0xFFFD, u'A'}));
    EXPECT_EQ(TextFromUtf8("\xC3"), Text({0xFFFD}));  // cut short at the end
    EXPECT_EQ(TextFromUtf8("\xC3"
                           "A"),
              Text({0xFFFD, u'A'}));                              // continuation missing
    EXPECT_EQ(TextFromUtf8("\xC0\xAF"), Text({0xFFFD, 0xFFFD}));  // overlong form
    EXPECT_EQ(TextFromUtf8("\xED\xA0\x80"), Text({0xFFFD}));      // encoded surrogate
    EXPECT_EQ(Utf8FromText(Text({0xD800, u'a'})),
              "\xEF\xBF\xBD"
              "a");
}

}  // namespace
}  // namespace taktor
