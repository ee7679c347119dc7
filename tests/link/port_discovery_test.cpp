// Port discovery: the line reader and the scan of the port list, and the whole discovery with a
// stand-in for the port-listing tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/port_discovery.h"
#include "link/posix/discovery_posix.h"

namespace taktor {
namespace {

namespace fs = std::filesystem;

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
    MemorySource source(bytes);
    TextLineReader reader(source);
    return ScanPortList(reader);
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

TEST(ProcessStart, CommandLineAndShellDirectory) {
    EXPECT_EQ(CommandLineFor(u"C:\\T\\Kanalyst.exe", u""), u"\"C:\\T\\Kanalyst.exe\"");
    EXPECT_EQ(CommandLineFor(u"C:\\T\\Kanalyst.exe", u"-v"), u"\"C:\\T\\Kanalyst.exe\" -v");
    EXPECT_EQ(CommandLineFor(u"\"C:\\T\\K.exe\"", u""), u"\"C:\\T\\K.exe\"");
    EXPECT_EQ(CommandLineFor(u"Kanalyst.exe", u""), u"\"Kanalyst.exe\"");

    EXPECT_EQ(ShellDirectoryFor(u"C:\\T\\Kanalyst.exe"), u"C:\\T\\");
    EXPECT_EQ(ShellDirectoryFor(u"\\\\srv\\share\\K.exe"), u"\\\\srv\\share\\");
    EXPECT_EQ(ShellDirectoryFor(u"Kanalyst.exe"), u"");
    EXPECT_EQ(ShellDirectoryFor(u"\\Kanalyst.exe"), u"");  // no backslash after the first
}

// A directory with a stand-in for the port-listing tool.
class FindPort : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/taktor-discovery-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    // A tool that runs `script` in its own directory.
    void WriteTool(const std::string& script) {
        WriteFile("Kanalyst.exe", "#!/bin/sh\ncd \"$(dirname \"$0\")\" || exit 1\n" + script);
        fs::permissions(dir_ / "Kanalyst.exe", fs::perms::owner_all);
    }
    Text Find() {
        PosixDiscovery platform(TextFromUtf8(dir_.string() + "/"));
        return FindControllerPort(platform);
    }

    fs::path dir_;
};

TEST_F(FindPort, ReadsTheListTheToolWrote) {
    WriteFile("listport.txt", "USB-SERIAL CH340 (COM9)\n");  // left from an earlier run
    WriteFile("given.txt", "COM1\n" + kCh340_7 + "\n");
    // The list only appears at the tool's end, so it must have been waited for.
    WriteTool("sleep 0.3\ncp given.txt listport.txt\n");
    EXPECT_EQ(Find(), u"COM7");
}

TEST_F(FindPort, NoToolOrNoListGivesNothing) {
    WriteFile("listport.txt", kCh340_7 + "\n");
    EXPECT_EQ(Find(), u"");  // a missing tool: the old list is not read

    fs::remove(dir_ / "listport.txt");
    WriteTool("exit 0\n");
    EXPECT_EQ(Find(), u"");
}

}  // namespace
}  // namespace taktor
