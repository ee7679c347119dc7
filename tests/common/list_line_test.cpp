#include "common/list_line.h"

#include <gtest/gtest.h>

namespace taktor {
namespace {

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
