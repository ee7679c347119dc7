// Transfer attempts through the Windows serial backend, against the simulated controller on COM6
// (run through tests/win/with-simulator.sh), its behaviour switched through its control file.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/reply.h"
#include "link/testing/link_testing.h"
#include "link/write_timing.h"
#include "tests/link/link_test_support.h"
#include "tests/win/win_files.h"

namespace taktor {
namespace {

using namespace std::chrono_literals;
using namespace wintest;
using Clock = std::chrono::steady_clock;

const PhaseDurations kDefaults = {60, 5, 60, 5, 60, 5, 60, 5};
const char kDefaultFrameLine[] =
    "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01 "
    "durations=60,5,60,5,60,5,60,5 checksum=ok";
const Text kPort = u"COM6";
const Text kMcuQuestion = u"Повреждена EEPROM микроконтроллера\n";
const Text kExternalQuestion = u"Повреждена EEPROM внешняя\n";

// Answers the damage questions from a script and keeps what was asked.
class ScriptedAnswers : public MessageDialog {
public:
    explicit ScriptedAnswers(std::vector<int> answers = {}) : answers_(std::move(answers)) {}

    int ShowMessage(const Text& title, const Text& text, unsigned flags) override {
        EXPECT_EQ(title, u"Внимание!");
        EXPECT_EQ(flags, kErrorQuestion);
        asked.push_back(text);
        if (asked.size() > answers_.size()) {
            ADD_FAILURE() << "more questions than answers";
            return kAnswerYes;
        }
        return answers_[asked.size() - 1];
    }

    // The first line of each question asked, in order.
    std::vector<Text> FirstLines() const {
        std::vector<Text> lines;
        for (const Text& text : asked) {
            lines.push_back(text.substr(0, text.find(u'\n') + 1));
        }
        return lines;
    }

    std::vector<Text> asked;

private:
    std::vector<int> answers_;
};

class WinTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!simulator_.Find()) {
            GTEST_SKIP() << "run through tests/win/with-simulator.sh COM6 -- wine-run.sh <test>";
        }
        ASSERT_TRUE(SetBehaviour("confirm"));
        ASSERT_GE(link_.OpenChannel(kControllerChannel, &kPort, kControllerLineSettings), 1);
    }
    void TearDown() override {
        link_.StartGracePeriod();
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
    Text Reply() const { return LinkTestAccess::DeviceReply(link_); }

    SimulatorFiles simulator_;
    ControllerLink link_;
};

TEST_F(WinTransfer, ConfirmedWriteSendsTheFrameExactly) {
    const std::size_t before = LoggedDefaultFrames();
    ScriptedAnswers answers;
    EXPECT_EQ(Attempt(answers), TransferResult::Confirmed);
    EXPECT_EQ(Reply(), u"on#\r");
    // The simulator logs a frame before it answers it.
    EXPECT_EQ(LoggedDefaultFrames(), before + 1);
    EXPECT_TRUE(answers.asked.empty());
}

TEST_F(WinTransfer, RepliesWithoutDamageAskNothing) {
    struct Case {
        const char* behaviour;
        TransferResult result;
        Text reply;
    };
    const Case cases[] = {
        {"silent", TransferResult::Unconfirmed, u""},
        {"no-cr", TransferResult::Confirmed, u"on#"},           // ends on the stop flag
        {"split", TransferResult::Confirmed, u"on#\r"},         // terminator over two reads
        {"wrong-case", TransferResult::Unconfirmed, u"ON#\r"},  // tokens are case-sensitive
        {"off", TransferResult::Unconfirmed, u"of#\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        ASSERT_TRUE(SetBehaviour(c.behaviour));
        ScriptedAnswers answers;
        EXPECT_EQ(Attempt(answers), c.result);
        EXPECT_EQ(Reply(), c.reply);
        EXPECT_TRUE(answers.asked.empty());
    }
}

TEST_F(WinTransfer, DamageQuestionsDecideTheResult) {
    struct Case {
        const char* behaviour;
        std::vector<int> answers;
        TransferResult result;
        std::vector<Text> questions;
    };
    const Case cases[] = {
        {"mcu-damaged", {kAnswerYes}, TransferResult::Unconfirmed, {kMcuQuestion}},
        {"mcu-damaged", {kAnswerNo}, TransferResult::Aborted, {kMcuQuestion}},
        {"ext-damaged", {kAnswerYes}, TransferResult::Unconfirmed, {kExternalQuestion}},
        {"ext-damaged", {kAnswerNo}, TransferResult::Aborted, {kExternalQuestion}},
        // Both asked, the microcontroller first; the later answer decides.
        {"both-damaged",
         {kAnswerYes, kAnswerNo},
         TransferResult::Aborted,
         {kMcuQuestion, kExternalQuestion}},
        {"both-damaged",
         {kAnswerNo, kAnswerYes},
         TransferResult::Unconfirmed,
         {kMcuQuestion, kExternalQuestion}},
        // A confirmation beside the damage report does not stand.
        {"confirmed-mcu-damaged", {kAnswerYes}, TransferResult::Unconfirmed, {kMcuQuestion}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        ASSERT_TRUE(SetBehaviour(c.behaviour));
        ScriptedAnswers answers(c.answers);
        EXPECT_EQ(Attempt(answers), c.result);
        EXPECT_EQ(answers.FirstLines(), c.questions);
    }
}

TEST_F(WinTransfer, StaleInputDoesNotConfirm) {
    // Switching to "stray" leaves about 250 bytes ending in "on#" CR waiting on the line.
    ASSERT_TRUE(SetBehaviour("stray"));
    const auto deadline = Clock::now() + 5s;
    while (link_.AvailableInput(kControllerChannel) < 250 && Clock::now() < deadline) {
        Sleep(5);
    }
    ASSERT_GE(link_.AvailableInput(kControllerChannel), 250);
    ScriptedAnswers answers;
    EXPECT_EQ(Attempt(answers), TransferResult::Unconfirmed);
    EXPECT_EQ(Reply(), u"of#\r");
}

TEST_F(WinTransfer, ClosedChannelAbortsWithoutSending) {
    const std::size_t before = LoggedDefaultFrames();
    link_.CloseChannel(kControllerChannel);
    ScriptedAnswers answers;
    EXPECT_EQ(Attempt(answers), TransferResult::Aborted);
    EXPECT_TRUE(answers.asked.empty());

    // Only the frame of the next, confirmed attempt reaches the controller.
    ASSERT_GE(link_.OpenChannel(kControllerChannel, &kPort, kControllerLineSettings), 1);
    EXPECT_EQ(Attempt(answers), TransferResult::Confirmed);
    EXPECT_EQ(LoggedDefaultFrames(), before + 1);
}

TEST_F(WinTransfer, WriterStuckOnAStoppedLineStallsAndTheNextAttemptWorks) {
    ASSERT_TRUE(SetBehaviour("suspend"));
    ScriptedAnswers answers;
    EXPECT_EQ(Attempt(answers), TransferResult::Stalled);
    ASSERT_TRUE(SetBehaviour("confirm"));
    EXPECT_EQ(Attempt(answers), TransferResult::Confirmed);
    EXPECT_TRUE(answers.asked.empty());
}

// A driver that never ends a write, stopped or not, imitated by a device double on Windows
// threads: the attempt is given up within its bound, the worker is left behind, and the port
// closes only when the driver lets go.
TEST(WinDeafDriver, AttemptEndsWithinItsBoundAndThePortClosesWhenTheDriverLetsGo) {
    auto line = std::make_shared<FakeLine>();
    line->queries = FakeLine::Queries::Answer;
    line->deafWrites = true;
    ControllerLink link(FakeDevicesOn(line));
    const Text port = u"COM1";
    ASSERT_GE(link.OpenChannel(kControllerChannel, &port, kControllerLineSettings), 1);

    ScriptedAnswers answers;
    auto start = Clock::now();
    EXPECT_EQ(link.TransferAttempt(kDefaults, answers), TransferResult::Stalled);
    EXPECT_LT(Clock::now() - start, kAttemptBound + kGracePeriod + 1s);
    ASSERT_TRUE(line->WaitUntil([](FakeLine& l) { return l.deafInside == 1; }));
    start = Clock::now();
    EXPECT_EQ(link.TransferAttempt(kDefaults, answers), TransferResult::Stalled);
    EXPECT_LT(Clock::now() - start, kSettleAllowance + 500ms);

    link.CloseChannel(kControllerChannel);
    EXPECT_EQ(link.OpenChannel(kControllerChannel, &port, kControllerLineSettings), 0);  // held
    EXPECT_FALSE(line->Locked([](FakeLine& l) { return l.closed; }));
    line->LetGo();
    EXPECT_TRUE(line->WaitUntil([](FakeLine& l) { return l.closed; }));
    link.StartGracePeriod();
    EXPECT_GE(link.OpenChannel(kControllerChannel, &port, kControllerLineSettings), 1);
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
