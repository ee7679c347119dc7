#include "tools/kanalyst/port_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kanalyst {
namespace {

const std::string kProlific = "PROLIFIC USB-TO-SERIAL COMM PORT";
const std::string kCh340 = "USB-SERIAL CH340";

// The port name as the configurator takes it from a line: between the first "(" and the first
// ")", and only when that "(" comes first.
std::string PortNameFromLine(const std::string& line) {
    const std::size_t open = line.find('(');
    const std::size_t close = line.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return "<none>";
    }
    return line.substr(open + 1, close - open - 1);
}

TEST(RecogniseCable, KnowsEveryListedAdapter) {
    for (const std::uint16_t product :
         {0x2303, 0x2304, 0x23a3, 0x23b3, 0x23c3, 0x23d3, 0x23e3, 0x23f3}) {
        EXPECT_EQ(RecogniseCable({0x067b, product}), Cable::Prolific) << std::hex << product;
    }
    for (const UsbId id : {UsbId{0x1a86, 0x7523}, UsbId{0x1a86, 0x7522}, UsbId{0x1a86, 0x5523},
                           UsbId{0x4348, 0x5523}, UsbId{0x9986, 0x7523}, UsbId{0x2184, 0x0057}}) {
        EXPECT_EQ(RecogniseCable(id), Cable::Ch340) << std::hex << id.vendor << ":" << id.product;
    }
}

TEST(RecogniseCable, NeedsVendorAndProductTogether) {
    EXPECT_EQ(RecogniseCable({0x067b, 0x2305}), Cable::Unknown);
    EXPECT_EQ(RecogniseCable({0x067b, 0x7523}), Cable::Unknown);  // CH340 product, Prolific vendor
    EXPECT_EQ(RecogniseCable({0x1a86, 0x2303}), Cable::Unknown);
    EXPECT_EQ(RecogniseCable({0x2303, 0x067b}), Cable::Unknown);  // swapped
    EXPECT_EQ(RecogniseCable({0x0403, 0x6001}), Cable::Unknown);  // an FTDI adapter
    EXPECT_EQ(RecogniseCable({0x2184, 0x0058}), Cable::Unknown);
    EXPECT_EQ(CableDescription(Cable::Prolific), kProlific);
    EXPECT_EQ(CableDescription(Cable::Ch340), kCh340);
    EXPECT_EQ(CableDescription(Cable::Unknown), "");
}

TEST(UpperCaseAscii, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(UpperCaseAscii("Prolific USB-to-Serial Comm Port"), kProlific);
    EXPECT_EQ(UpperCaseAscii("azAZ09 -_~{}"), "AZAZ09 -_~{}");
    EXPECT_EQ(UpperCaseAscii("i"), "I");  // never the dotted capital of Turkish rules
    // Turkish dotless and dotted i, German sharp s, Cyrillic: all stay as they are.
    EXPECT_EQ(UpperCaseAscii("\xC4\xB1 \xC4\xB0 \xC3\x9F"), "\xC4\xB1 \xC4\xB0 \xC3\x9F");
    EXPECT_EQ(UpperCaseAscii("порт ttyusb"), "порт TTYUSB");
    EXPECT_EQ(UpperCaseAscii(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(SanitiseText, LeavesOneLineWithoutRoundBrackets) {
    EXPECT_EQ(SanitiseText("Gadget (rev 2)"), "Gadget [rev 2]");
    EXPECT_EQ(SanitiseText(std::string("  two\nlines\r\nzero\0byte\ttab  ", 29)),
              "two lines zero byte tab");
    EXPECT_EQ(SanitiseText("nel\xC2\x85"
                           "ls\xE2\x80\xA8"
                           "end"),
              "nel ls end");
    EXPECT_EQ(SanitiseText(" \r\n\t "), "");
}

TEST(SanitiseText, KeepsValidUtf8AndReplacesTheRest) {
    EXPECT_EQ(SanitiseText("Кабель \xF0\x9F\x94\x8C"), "Кабель \xF0\x9F\x94\x8C");
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(SanitiseText("a\xFF"
                           "b"),
              "a" + bad + "b");
    // One replacement per malformed sequence, as the configurator decodes the list.
    EXPECT_EQ(SanitiseText("\xED\xA0\x80x"), bad + "x");  // a UTF-16 surrogate
    EXPECT_EQ(SanitiseText("cut\xE2\x82"), "cut" + bad);
    // A broken sequence must not swallow a following ")".
    EXPECT_EQ(SanitiseText("\xE2\x82)"), bad + "]");
}

TEST(FormatPortLine, DescribesRecognisedCablesCanonicallyAndOthersUpperCased) {
    EXPECT_EQ(
        FormatPortLine({"Prolific PL2303GT USB Serial COM Port", UsbId{0x067b, 0x23c3}, "COM4"}),
        kProlific + " (COM4)");
    EXPECT_EQ(FormatPortLine({"USB Serial", UsbId{0x1a86, 0x7523}, "/dev/ttyUSB0"}),
              kCh340 + " (/dev/ttyUSB0)");
    EXPECT_EQ(FormatPortLine({"Prolific USB-to-Serial Comm Port", std::nullopt, "COM3"}),
              kProlific + " (COM3)");
    EXPECT_EQ(FormatPortLine({"FT232R USB UART", UsbId{0x0403, 0x6001}, "COM5"}),
              "FT232R USB UART (COM5)");
    EXPECT_EQ(FormatPortLine({"Communications Port (COM1)", std::nullopt, "COM1"}),
              "COMMUNICATIONS PORT [COM1] (COM1)");
    EXPECT_EQ(FormatPortLine({"Последовательный порт", std::nullopt, "COM2"}),
              "Последовательный порт (COM2)");
    EXPECT_EQ(FormatPortLine({" \n", std::nullopt, "COM6"}), "SERIAL PORT (COM6)");
}

TEST(FormatPortLine, ReaderAlwaysFindsThePortName) {
    const std::vector<std::string> descriptions = {"plain",
                                                   ")(",
                                                   "a) b (c",
                                                   "(((",
                                                   ")))",
                                                   "x\ny(COM9)",
                                                   "\xFF)\xFE(",
                                                   "\r)\r",
                                                   "usb-serial ch340 (COM8)",
                                                   std::string("\0)", 2)};
    for (const std::string& description : descriptions) {
        const std::string line = FormatPortLine({description, std::nullopt, "COM12"});
        EXPECT_EQ(PortNameFromLine(line), "COM12") << line;
        EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << line;
    }
    // A strange port name cannot break the line either.
    const std::string line = FormatPortLine({"X", std::nullopt, "CO(M)1\n"});
    EXPECT_EQ(PortNameFromLine(line), "CO[M]1");
}

TEST(PortNameLess, OrdersByNumberWithinAName) {
    EXPECT_TRUE(PortNameLess("COM9", "COM10"));
    EXPECT_FALSE(PortNameLess("COM10", "COM9"));
    EXPECT_TRUE(PortNameLess("/dev/ttyACM3", "/dev/ttyUSB0"));
    EXPECT_FALSE(PortNameLess("COM3", "COM3"));
    EXPECT_NE(PortNameLess("COM01", "COM1"), PortNameLess("COM1", "COM01"));  // still strict
    EXPECT_TRUE(PortNameLess("COM99999999999999999999", "COM100000000000000000000"));
}

TEST(FormatPortList, OneLinePerPortInPortOrder) {
    const std::vector<PortRecord> records = {
        {"USB-SERIAL CH340", UsbId{0x1a86, 0x7523}, "COM10"},
        {"Communications Port", std::nullopt, "COM1"},
        {"Prolific USB-to-Serial Comm Port", UsbId{0x067b, 0x2303}, "COM3"},
        {"No name", std::nullopt, ""},
        {"Bluetooth link", std::nullopt, "COM2"},
    };
    EXPECT_EQ(FormatPortList(records),
              "COMMUNICATIONS PORT (COM1)\n"
              "BLUETOOTH LINK (COM2)\n"
              "PROLIFIC USB-TO-SERIAL COMM PORT (COM3)\n"
              "USB-SERIAL CH340 (COM10)\n");
    EXPECT_EQ(FormatPortList({}), "");
    EXPECT_EQ(FormatPortList({{"only", std::nullopt, "\n"}}), "");
}

TEST(FormatPortList, KeepsTheFoundOrderOfEqualNames) {
    EXPECT_EQ(FormatPortList({{"b", std::nullopt, "COM3"}, {"a", std::nullopt, "COM3"}}),
              "B (COM3)\nA (COM3)\n");
    // A chip built in comes first, so that the configurator takes the removable cable.
    EXPECT_EQ(FormatPortList(
                  {{"", UsbId{0x1a86, 0x7523}, "COM3", true}, {"", UsbId{0x067b, 0x2303}, "COM9"}}),
              "PROLIFIC USB-TO-SERIAL COMM PORT (COM9)\nUSB-SERIAL CH340 (COM3)\n");
}

TEST(ParseHardwareId, NeedsBothIdsInFullHex) {
    const std::optional<UsbId> prolific = ParseHardwareId("USB\\VID_067B&PID_23C3&REV_0300");
    ASSERT_TRUE(prolific.has_value());
    EXPECT_EQ(prolific->vendor, 0x067b);
    EXPECT_EQ(prolific->product, 0x23c3);
    const std::optional<UsbId> ftdi = ParseHardwareId("ftdibus\\comport&vid_0403&pid_6001");
    ASSERT_TRUE(ftdi.has_value());
    EXPECT_EQ(ftdi->vendor, 0x0403);
    EXPECT_EQ(ftdi->product, 0x6001);
    EXPECT_FALSE(ParseHardwareId("ACPI\\PNP0501").has_value());
    EXPECT_FALSE(ParseHardwareId("USB\\VID_067B").has_value());
    EXPECT_FALSE(ParseHardwareId("USB\\VID_067G&PID_2303").has_value());
    EXPECT_FALSE(ParseHardwareId("USB\\VID_067B&PID_230").has_value());
}

}  // namespace
}  // namespace kanalyst
