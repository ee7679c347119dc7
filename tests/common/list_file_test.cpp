#include "common/list_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace taktor {
namespace {

// The bytes of a file, handed out in pieces of at most `piece` bytes, as a pipe might.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes, int piece = TextLineReader::kReadAhead)
        : bytes_(std::move(bytes)), piece_(piece) {}
    int ReadBytes(std::uint8_t* buffer, int capacity) override {
        const int count = std::min({capacity, piece_, static_cast<int>(bytes_.size() - at_)});
        std::copy_n(bytes_.data() + at_, count, buffer);
        at_ += static_cast<std::size_t>(count);
        return count;
    }

private:
    std::string bytes_;
    int piece_;
    std::size_t at_ = 0;
};

std::vector<Text> Lines(const std::string& bytes, int piece = TextLineReader::kReadAhead) {
    MemorySource source(bytes, piece);
    TextLineReader reader(source);
    std::vector<Text> lines;
    while (!reader.AtEnd()) {
        lines.push_back(reader.ReadTextLine());
    }
    return lines;
}

Text Scan(const std::string& bytes) {
    return ScanPortList(bytes);
}

const std::string kProlific3 = "PROLIFIC USB-TO-SERIAL COMM PORT (COM3)";
const std::string kCh340_7 = "USB-SERIAL CH340 (COM7)";

TEST(TextLineReader, LineEnds) {
    using V = std::vector<Text>;
    EXPECT_EQ(Lines(""), V{});
    EXPECT_EQ(Lines("a\nb\n"), (V{u"a", u"b"}));  // no empty line after the last line end
    EXPECT_EQ(Lines("a\r\nb\r\n"), (V{u"a", u"b"}));
    EXPECT_EQ(Lines("a\rb\r"), (V{u"a", u"b"}));  // a CR at the very end ends the last line
    EXPECT_EQ(Lines("a\nb"), (V{u"a", u"b"}));    // the last line needs no line end
    EXPECT_EQ(Lines("a\n\r\n\rb"), (V{u"a", u"", u"", u"b"}));
    EXPECT_EQ(Lines("a\n\rb", 1), (V{u"a", u"", u"b"}));  // the put-back byte after a refill
    EXPECT_EQ(Lines(std::string("ab\0cd\n", 6)), (V{u"ab", u"cd"}));
    EXPECT_EQ(Lines("\xEF\xBB\xBF\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82"), V{u"\uFEFFПорт"});
}

TEST(TextLineReader, LinesLongerThanTheReadAhead) {
    const std::string longLine(10000, 'x');
    EXPECT_EQ(Lines(longLine + "\n" + longLine + "y"),
              (std::vector<Text>{Text(10000, u'x'), Text(10000, u'x') + u"y"}));

    // A CR LF pair split across the read-ahead boundary is still one line end.
    const std::string head(TextLineReader::kReadAhead - 1, 'h');
    EXPECT_EQ(Lines(head + "\r\nnext"), (std::vector<Text>{Text(head.size(), u'h'), u"next"}));
    EXPECT_EQ(Lines(head + "\rnext"), (std::vector<Text>{Text(head.size(), u'h'), u"next"}));
}

TEST(ScanPortList, LastPortLineWins) {
    EXPECT_EQ(Scan(kProlific3 + "\n" + kCh340_7 + "\n"), u"COM7");
    EXPECT_EQ(Scan(kCh340_7 + "\n" + kProlific3 + "\n"), u"COM3");
    EXPECT_EQ(Scan("SERIAL PORT (COM1)\n" + kCh340_7 + "\nOTHER (COM9)\n"), u"COM7");
    EXPECT_EQ(Scan("x\r" + kProlific3 + "\r\n" + kCh340_7), u"COM7");  // no final line end
    // "()" empties the result even after a name.
    EXPECT_EQ(Scan(kProlific3 + "\nUSB-SERIAL CH340 ()\n"), u"");
}

TEST(ScanPortList, ParenthesesAndCase) {
    // A ")" before the first "(" ignores the line and keeps the earlier result, even with a
    // pair later in the line.
    EXPECT_EQ(Scan(kProlific3 + "\nUSB-SERIAL CH340 ) (COM7)\n"), u"COM3");
    EXPECT_EQ(Scan("USB-SERIAL CH340 (COM7\n"), u"");
    // Both parentheses are searched from the start of the line.
    EXPECT_EQ(Scan("(COM4) USB-SERIAL CH340 (COM7)\n"), u"COM4");
    EXPECT_EQ(Scan("USB-SERIAL CH340 ( COM3 )\n"), u" COM3 ");
    EXPECT_EQ(Scan("usb-serial ch340 (COM7)\nProlific USB-to-Serial Comm Port (COM3)\n"), u"");
    EXPECT_EQ(Scan("Port: USB-SERIAL CH340 (/dev/ttyUSB0) extra\n"), u"/dev/ttyUSB0");
}

TEST(ScanPortList, EncodingsAndZeroBytes) {
    EXPECT_EQ(Scan("\xEF\xBB\xBF" + kCh340_7 + "\n"), u"COM7");
    EXPECT_EQ(Scan(""), u"");

    // UTF-16: every other byte is zero and ends a line, so no line holds a description.
    std::string utf16 = "\xFF\xFE";
    for (char c : kCh340_7 + "\r\n") {
        utf16 += c;
        utf16 += '\0';
    }
    EXPECT_EQ(Scan(utf16), u"");

    // A zero byte ends the line: its parentheses fall into the next, which names no cable.
    EXPECT_EQ(Scan(kProlific3 + "\n" + std::string("USB-SERIAL CH340\0 (COM7)\n", 25)), u"COM3");
    EXPECT_EQ(Scan(std::string(5000, '-') + kCh340_7 + "\n"), u"COM7");
}

TEST(ListLine, CableLinesGiveTheTextBetweenTheFirstBrackets) {
    struct Case {
        const char16_t* line;
        bool matches;
        const char16_t* port;
    };
    const Case cases[] = {
        {u"USB-SERIAL CH340 (COM5)", true, u"COM5"},
        {u"PROLIFIC USB-TO-SERIAL COMM PORT (COM3)", true, u"COM3"},
        {u"(COM9) USB-SERIAL CH340", true, u"COM9"},  // brackets searched from the line's start
        {u"USB-SERIAL CH340 ( COM3 )", true, u" COM3 "},
        {u"USB-SERIAL CH340 ()", true, u""},
        {u"USB-SERIAL CH340 )(COM4)", false, u""},  // first ")" before the first "("
        {u"USB-SERIAL CH340 COM4", false, u""},
        {u"usb-serial ch340 (COM4)", false, u""},  // case counts
        {u"COMMUNICATIONS PORT (COM1)", false, u""},
        {u"", false, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromText(c.line));
        Text port = u"unchanged";
        EXPECT_EQ(CablePortOfLine(c.line, port), c.matches);
        EXPECT_EQ(port, c.matches ? Text(c.port) : Text(u"unchanged"));
    }
}

TEST(ListLine, WhatTheToolWritesTheConfiguratorReads) {
    for (const char16_t* cable : {kProlificCable, kCh340Cable}) {
        Text port;
        EXPECT_TRUE(
            CablePortOfLine(TextFromUtf8(FormatListLine(Utf8FromText(cable), "COM12")), port));
        EXPECT_EQ(port, u"COM12");
    }
}

}  // namespace
}  // namespace taktor
