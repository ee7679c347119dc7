// Transfer attempts through the Windows serial backend, against the simulated controller on COM6
// (run through tests/win/with-simulator.sh), its behaviour switched through its control file;
// the attempt's logic itself is tested natively.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "link/reply.h"
#include "tests/link/link_test_support.h"
#include "tests/win/win_files.h"

namespace taktor {
namespace {

using namespace wintest;

const PhaseDurations kDefaults = {60, 5, 60, 5, 60, 5, 60, 5};
const char kDefaultFrameLine[] =
    "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01 "
    "durations=60,5,60,5,60,5,60,5 checksum=ok";
const Text kPort = u"COM6";
class WinTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!simulator_.Find()) {
            GTEST_SKIP() << "run through tests/win/with-simulator.sh COM6 -- wine-run.sh <test>";
        }
        ASSERT_TRUE(SetBehaviour("confirm"));
        ASSERT_GE(link_.OpenChannel(ControllerChannel, &kPort, ControllerLineSettings), 1);
    }
    void TearDown() override {
        link_.CloseAllChannels();
        if (simulator_.Found()) {
            SetBehaviour("confirm");
        }
    }

    bool SetBehaviour(const std::string& name) const { return simulator_.SetBehaviour(name); }

    std::size_t LoggedDefaultFrames() const {
        return CountOccurrences(simulator_.Log(), kDefaultFrameLine);
    }

    TransferResult Attempt(MessageDialog& answers) {
        return link_.TransferAttempt(kDefaults, answers);
    }

    SimulatorFiles simulator_;
    ControllerLink link_;
};

TEST_F(WinTransfer, ConfirmedWriteSendsTheFrameExactly) {
    const std::size_t before = LoggedDefaultFrames();
    ScriptedMessages answers;
    EXPECT_EQ(Attempt(answers), TransferResult::Confirmed);
    // The simulator logs a frame before it answers it.
    EXPECT_EQ(LoggedDefaultFrames(), before + 1);
    EXPECT_TRUE(answers.shown.empty());
}

TEST_F(WinTransfer, WriterStuckOnAStoppedLineStallsAndTheNextAttemptWorks) {
    ASSERT_TRUE(SetBehaviour("suspend"));
    ScriptedMessages answers;
    EXPECT_EQ(Attempt(answers), TransferResult::Stalled);
    ASSERT_TRUE(SetBehaviour("confirm"));
    EXPECT_EQ(Attempt(answers), TransferResult::Confirmed);
    EXPECT_TRUE(answers.shown.empty());
}

// The reply's bytes become text through the ANSI code page, one character per byte in the
// single-byte code pages, and a zero byte ends what a chunk adds.
TEST(WinReplyText, NonAsciiBytesThroughTheAnsiCodePage) {
    const std::uint8_t bytes[] = {0xC0, 0xE9, 0x80, 'o', 'n', '#', '\r', 0, 'x', 'y'};
    Text expected;
    switch (GetACP()) {
        case 1252:
            expected = u"\u00C0\u00E9\u20ACon#\r";
            break;
        case 1251:
            expected = u"\u0410\u0439\u0402on#\r";
            break;
        default:
            GTEST_SKIP() << "no expectation for ANSI code page " << GetACP();
    }
    const Text text = ReplyChunkText(bytes, sizeof(bytes));
    EXPECT_EQ(text, expected);
    EXPECT_EQ(CountText(text, u"on#"), 1);
    EXPECT_EQ(FindText(text, u"#\r"), 6);
}

}  // namespace
}  // namespace taktor
