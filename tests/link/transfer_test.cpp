// One transfer attempt through the real channel against the simulated controller on a
// pseudo-terminal, and against a scripted device for the workers that must be stopped.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/reply.h"
#include "link/write_timing.h"
#include "tests/link/link_test_support.h"
#include "tools/simulator/pty_controller.h"

namespace taktor {
namespace {

using namespace std::chrono_literals;
using sim::PtyController;
using sim::PtyOptions;
using Result = TransferResult;

PtyOptions Behaving(const char* name) {
    PtyOptions options;
    options.behaviour = *sim::ParseBehaviour(name);
    return options;
}

void Behave(PtyController& controller, const char* name) {
    controller.SetBehaviour(*sim::ParseBehaviour(name));
}

class Transfer : public ::testing::Test {
protected:
    // The simulator on the line; the channel opened on it.
    void Connect(PtyOptions options) {
        controller_ = std::make_unique<PtyController>(std::move(options));
        ASSERT_GE(OpenControllerOn(*link_, controller_->SlavePath()), 1);
    }
    // Devices of the fake line on COM1, the platform's backend elsewhere.
    void UseFakeLine(const std::shared_ptr<FakeLine>& line) {
        link_ = std::make_unique<ControllerLink>(FakeDevicesOn(line));
        ASSERT_GE(OpenControllerOn(*link_, "COM1"), 1);
    }

    // One attempt with the defaults; its time is kept in elapsed_.
    Result Attempt(const PhaseDurations& durations = kDefaultDurations) {
        const auto start = Clock::now();
        const Result result = link_->TransferAttempt(durations, messages_);
        elapsed_ = MillisSince(start);
        return result;
    }
    std::unique_ptr<PtyController> controller_;
    std::unique_ptr<ControllerLink> link_ = std::make_unique<ControllerLink>();  // goes first
    ScriptedMessages messages_;
    Millis elapsed_{0};
};

TEST_F(Transfer, FrameCarriesTheDurationsAndTheirSum) {
    Connect(PtyOptions());
    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_EQ(Attempt({2000, 2000, 2000, 2000, 2000, 2000, 2000, 2000}), Result::Confirmed);
    // Only values the fields refuse can pass 65,535: the sum wraps to its low 16 bits.
    const PhaseDurations large = {10000, 10000, 10000, 10000, 10000, 10000, 10000, 10000};
    EXPECT_EQ(Attempt(large), Result::Confirmed);

    const auto frames = controller_->Frames();
    ASSERT_EQ(frames.size(), 3u);
    const std::array<std::uint8_t, 18> defaults = {0x3C, 0x00, 0x05, 0x00, 0x3C, 0x00,
                                                   0x05, 0x00, 0x3C, 0x00, 0x05, 0x00,
                                                   0x3C, 0x00, 0x05, 0x00, 0x04, 0x01};
    EXPECT_EQ(frames[0].bytes, defaults);
    EXPECT_EQ(frames[1].bytes[16], 0x80);
    EXPECT_EQ(frames[1].bytes[17], 0x3E);
    EXPECT_EQ(frames[1].durations[7], 2000);
    EXPECT_EQ(frames[2].durations[0], 10000);
    EXPECT_EQ(frames[2].checksum, 14464);
    for (const auto& frame : frames) {
        EXPECT_TRUE(frame.checksumOk);
    }
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Transfer, ReaderEndsAtTheTerminatorOrOnTheStopFlag) {
    struct Case {
        const char* reply;
        Result expected;
        bool heldToTheFlag;
    };
    const Case cases[] = {
        {"on#\r", Result::Confirmed, false},
        {"of#\ron#", Result::Confirmed, false},  // bytes after the terminator count too
        {"on#", Result::Confirmed, true},        // no terminator: the stop flag ends the read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        auto line = std::make_shared<FakeLine>();
        line->queries = FakeLine::Queries::Answer;
        line->writeTime = 0ms;
        line->reply = c.reply;
        UseFakeLine(line);
        EXPECT_EQ(Attempt(), c.expected);
        EXPECT_EQ(line->Locked([](FakeLine& l) { return l.queriesAfterReply; }) > 0,
                  c.heldToTheFlag);
        if (c.heldToTheFlag) {
            EXPECT_GE(elapsed_, 280ms);
        }
    }
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Transfer, RepliesWithoutTheConfirmationAreUnconfirmed) {
    Connect(Behaving("wrong-case"));
    EXPECT_EQ(Attempt(), Result::Unconfirmed);

    Behave(*controller_, "off");
    EXPECT_EQ(Attempt(), Result::Unconfirmed);

    Behave(*controller_, "zero-byte");  // "on" NUL "#" CR: the chunk ends at the zero byte
    EXPECT_EQ(Attempt(), Result::Unconfirmed);

    Behave(*controller_, "silent");
    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_GE(elapsed_, 280ms);
    EXPECT_LT(elapsed_, 2s);
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_EQ(controller_->Frames().size(), 4u);
}

TEST_F(Transfer, DamageQuestionsDecideTheResult) {
    struct Case {
        const char* behaviour;
        std::deque<int> answers;
        Result expected;
        std::vector<Text> asked;
    };
    const Case cases[] = {
        {"mcu-damaged", {kAnswerYes}, Result::Unconfirmed, {kMcuDamageText}},
        {"mcu-damaged", {kAnswerNo}, Result::Aborted, {kMcuDamageText}},
        {"ext-damaged", {kAnswerYes}, Result::Unconfirmed, {kExternalDamageText}},
        {"ext-damaged", {kAnswerNo}, Result::Aborted, {kExternalDamageText}},
        // The "os#" question comes first; the "ol#" answer decides.
        {"both-damaged",
         {kAnswerNo, kAnswerYes},
         Result::Unconfirmed,
         {kMcuDamageText, kExternalDamageText}},
        {"both-damaged",
         {kAnswerYes, kAnswerNo},
         Result::Aborted,
         {kMcuDamageText, kExternalDamageText}},
        // The question overrides a confirmation in the same reply...
        {"confirmed-mcu-damaged", {kAnswerYes}, Result::Unconfirmed, {kMcuDamageText}},
        {"confirmed-mcu-damaged", {kAnswerNo}, Result::Aborted, {kMcuDamageText}},
        // ...unless the answer is neither Yes nor No.
        {"confirmed-mcu-damaged", {kAnswerOk}, Result::Confirmed, {kMcuDamageText}},
    };
    Connect(PtyOptions());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Behave(*controller_, c.behaviour);
        messages_ = ScriptedMessages(c.answers);
        EXPECT_EQ(Attempt(), c.expected);
        ASSERT_EQ(messages_.shown.size(), c.asked.size());
        for (std::size_t i = 0; i < c.asked.size(); ++i) {
            EXPECT_EQ(messages_.shown[i].title, kDamageTitle);
            EXPECT_EQ(messages_.shown[i].text, c.asked[i]);
            EXPECT_EQ(messages_.shown[i].flags, 20u);
        }
    }
}

TEST_F(Transfer, StaleInputCannotConfirm) {
    Connect(Behaving("off"));
    // More than one receive buffer of old input, ending in a confirmation of its own.
    controller_->Send(sim::StaleLine());
    ASSERT_TRUE(controller_->WaitForOutput(5s));
    const auto deadline = Clock::now() + 5s;
    while (link_->AvailableInput(ControllerChannel) < 250 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(link_->AvailableInput(ControllerChannel), 250);

    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_EQ(controller_->Frames().size(), 1u);
}

TEST_F(Transfer, ClosedChannelAbortsAtOnce) {
    Connect(PtyOptions());
    ASSERT_EQ(Attempt(), Result::Confirmed);
    link_->CloseChannel(ControllerChannel);

    EXPECT_EQ(Attempt(), Result::Aborted);
    EXPECT_LT(elapsed_, 250ms);
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_FALSE(controller_->WaitForFrames(2, 200ms));
}

TEST_F(Transfer, WriterThatCannotSendIsCancelled) {
    Connect(PtyOptions());
    ASSERT_TRUE(controller_->SuspendLine());
    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_GE(elapsed_, 580ms);
    EXPECT_LT(elapsed_, 1500ms);  // well before the write's own time-out of 1,810 ms
    EXPECT_TRUE(messages_.shown.empty());

    ASSERT_TRUE(controller_->ResumeLine());
    EXPECT_FALSE(controller_->WaitForFrames(1, 200ms));
    EXPECT_EQ(Attempt(), Result::Confirmed);  // the cancellation ended with the attempt
    EXPECT_EQ(controller_->Frames().size(), 1u);
}

TEST_F(Transfer, HungReaderIsStoppedTogetherWithItsWriter) {
    auto line = std::make_shared<FakeLine>();  // queries hang while the 1.5 s write goes on
    UseFakeLine(line);

    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_GE(elapsed_, 580ms);
    EXPECT_LT(elapsed_, 1300ms);  // the cancellation ended the write long before its own time
    line->Locked([](FakeLine& l) {
        EXPECT_EQ(l.stopped, 2);  // the write and the query behind it
        EXPECT_EQ(l.writesStarted, 1);
        EXPECT_EQ(l.writesFinished, 1);  // no write is left in progress
        l.queries = FakeLine::Queries::Answer;
        l.writeTime = 0ms;
    });

    // The next attempt finds the channel working again.
    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_LT(elapsed_, 1s);
    line->Locked([](FakeLine& l) {
        EXPECT_EQ(l.writesStarted, 2);
        EXPECT_EQ(l.writesFinished, 2);
    });
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Transfer, WorkerLeftInADeafDriverKeepsLaterAttemptsOffItsDevice) {
    auto line = std::make_shared<FakeLine>();
    line->deafWrites = true;  // the write never ends, stopped or not
    UseFakeLine(line);

    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_GE(elapsed_, 580ms);
    EXPECT_LT(elapsed_, kAttemptBound + 1s);
    ASSERT_TRUE(line->WaitUntil([](FakeLine& l) { return l.deafInside == 1; }));
    EXPECT_EQ(Attempt(), Result::Stalled);  // soon, and nothing more goes to the device
    EXPECT_LT(elapsed_, kSettleWait + 500ms);
    EXPECT_EQ(line->Locked([](FakeLine& l) { return l.writesStarted; }), 1);

    // Closing does not wait for the driver; the port closes when the write finally ends, and
    // until then it counts as taken.
    link_->CloseChannel(ControllerChannel);
    EXPECT_EQ(link_->IsChannelOpen(ControllerChannel), 0);
    EXPECT_EQ(OpenControllerOn(*link_, "COM1"), 0);
    EXPECT_FALSE(line->Locked([](FakeLine& l) { return l.closed; }));
    line->LetGo();
    EXPECT_TRUE(line->WaitUntil([](FakeLine& l) { return l.closed; }));
    ASSERT_GE(OpenControllerOn(*link_, "COM1"), 1);
    line->Locked([](FakeLine& l) { l.deafWrites = false; });
    EXPECT_EQ(Attempt(), Result::Stalled);  // the reader hangs behind the 1.5 s write again
}

TEST_F(Transfer, LateWriterNeverReachesTheNextDevice) {
    // The first port's driver holds the write until the attempt has been given up and the
    // channel opened again on another port.
    auto first = std::make_shared<FakeLine>();
    auto second = std::make_shared<FakeLine>();
    for (const auto& line : {first, second}) {
        line->queries = FakeLine::Queries::Answer;
        line->writeTime = 0ms;
        line->reply = "on#\r";
    }
    first->deafWrites = true;
    link_ = std::make_unique<ControllerLink>(
        [firstOpener = FakeDevicesOn(first), secondOpener = FakeDevicesOn(second, u"\\\\.\\COM2")](
            const Text& path, const LineSettings& settings, const StopSignal& stop) {
            return path == u"\\\\.\\COM2" ? secondOpener(path, settings, stop)
                                          : firstOpener(path, settings, stop);
        });
    ASSERT_GE(OpenControllerOn(*link_, "COM1"), 1);

    EXPECT_EQ(Attempt(), Result::Stalled);
    link_->CloseChannel(ControllerChannel);
    ASSERT_GE(OpenControllerOn(*link_, "COM2"), 1);
    first->LetGo();
    EXPECT_TRUE(first->WaitUntil([](FakeLine& l) { return l.closed; }));  // the writer let go
    EXPECT_EQ(second->Locked([](FakeLine& l) { return l.writesStarted; }), 0);

    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_EQ(second->Locked([](FakeLine& l) { return l.writesStarted; }), 1);
}

TEST_F(Transfer, ReaderThatStartsLateStillSeesItsStop) {
    // The drain before the frame is held until the reader's stop flag was set at the first wait,
    // so the reader starts to poll only then; it must still end at its first poll, not only when
    // the attempt gives up on it.
    auto line = std::make_shared<FakeLine>();
    line->queries = FakeLine::Queries::Answer;
    line->writeTime = 0ms;
    line->firstQueryHold = kWorkerWait + kWorkerWait / 2;
    UseFakeLine(line);
    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_EQ(line->Locked([](FakeLine& l) { return l.writesFinished; }), 1);
}

TEST(ReplyText, TokensAreFoundAnywhereAndCaseCounts) {
    struct Case {
        const char16_t* reply;
        bool complete, confirmed, mcuDamaged, externalDamaged;
    };
    const Case cases[] = {
        {u"on#\r", true, true, false, false},        {u"on#", false, true, false, false},
        {u"ON#\r", true, false, false, false},       {u"of#\r", true, false, false, false},
        {u"xxon#os#yy#\r", true, true, true, false}, {u"ol#os#\r", true, false, true, true},
        {u"o\rn#", false, false, false, false},      {u"", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromText(c.reply));
        const ReplyTokens tokens = ReadReplyTokens(c.reply);
        EXPECT_EQ(ReplyComplete(c.reply), c.complete);
        EXPECT_EQ(tokens.confirmed, c.confirmed);
        EXPECT_EQ(tokens.mcuDamaged, c.mcuDamaged);
        EXPECT_EQ(tokens.externalDamaged, c.externalDamaged);
    }
    // The reader searches on from where the last chunk could have begun a terminator.
    EXPECT_TRUE(ReplyComplete(u"on#\r", 3));
    EXPECT_FALSE(ReplyComplete(u"on#\r", 4));
}

TEST(ReplyText, TerminatorIsFoundWhereverTheReadsSplitIt) {
    const std::string bytes = "noise on#\r tail";
    for (std::size_t first = 0; first <= bytes.size(); ++first) {
        for (std::size_t second = first; second <= bytes.size(); ++second) {
            Text reply = u"old";
            ReplyCollector collector(reply);
            const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
            collector.Add(data, static_cast<int>(first));
            collector.Add(data + first, static_cast<int>(second - first));
            collector.Add(data + second, static_cast<int>(bytes.size() - second));
            EXPECT_TRUE(collector.Complete()) << first << " " << second;
            EXPECT_EQ(reply, u"noise on#\r tail");
        }
    }
}

TEST(ReplyText, ChunkEndsAtAZeroByteAndHighBytesAreCyrillic) {
    const std::uint8_t bytes[] = {'o', 'k', 0, 'o', 'n', '#'};
    EXPECT_EQ(ReplyChunkText(bytes, 6), u"ok");
    EXPECT_EQ(ReplyChunkText(bytes, 1), u"o");
    EXPECT_EQ(ReplyChunkText(bytes + 2, 4), u"");
    const std::uint8_t cyrillic[] = {0xC0, 0xDF, 0xE0, 0xFF, 0xA8, 0xB8, '#', '\r'};
    EXPECT_EQ(ReplyChunkText(cyrillic, 8), u"АЯаяЁё#\r");
}

}  // namespace
}  // namespace taktor
