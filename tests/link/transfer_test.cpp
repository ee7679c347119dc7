// One transfer attempt through the real channel against the simulated controller on a
// pseudo-terminal, and against a scripted device for the workers that must be stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/reply.h"
#include "link/testing/transfer_testing.h"
#include "link/transfer.h"
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
        ASSERT_GE(OpenControllerOn(controller_->SlavePath()), 1);
    }

    // One attempt with the defaults; its time is kept in elapsed_.
    Result Attempt(const PhaseDurations& durations = kDefaultDurations) {
        const auto start = Clock::now();
        const Result result = TransferAttempt(durations, messages_);
        elapsed_ = MillisSince(start);
        return result;
    }

    std::atomic<PtyController*> self_{nullptr};  // for the simulator's own thread
    std::unique_ptr<PtyController> controller_;
    ChannelScope scope_;  // closes the channel before the line goes
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
    PtyOptions options;
    options.onFrame = [this](const sim::ReceivedFrame&) {
        // Silent: bytes after the terminator come in the same chunk.
        PtyController* controller = self_.load();
        if (controller != nullptr &&
            controller->CurrentBehaviour().kind == sim::ReplyKind::Silent) {
            controller->Send("of#\ron#");
        }
    };
    Connect(options);
    self_ = controller_.get();

    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_LT(elapsed_, 250ms);  // not held up to the stop flag
    EXPECT_EQ(LastDeviceReply(), u"on#\r");

    Behave(*controller_, "split");  // "#" ends one chunk, CR starts the next
    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_LT(elapsed_, 250ms);
    EXPECT_EQ(LastDeviceReply(), u"on#\r");

    Behave(*controller_, "silent");
    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_EQ(LastDeviceReply(), u"of#\ron#");

    Behave(*controller_, "no-cr");  // no terminator: the stop flag ends the reader
    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_GE(elapsed_, 280ms);
    EXPECT_LT(elapsed_, 2s);
    EXPECT_EQ(LastDeviceReply(), u"on#");
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Transfer, RepliesWithoutTheConfirmationAreUnconfirmed) {
    Connect(Behaving("wrong-case"));
    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_EQ(LastDeviceReply(), u"ON#\r");

    Behave(*controller_, "off");
    EXPECT_EQ(Attempt(), Result::Unconfirmed);

    Behave(*controller_, "zero-byte");  // "on" NUL "#" CR: the chunk ends at the zero byte
    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_EQ(LastDeviceReply(), u"on");

    Behave(*controller_, "silent");
    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_GE(elapsed_, 280ms);
    EXPECT_LT(elapsed_, 2s);
    EXPECT_EQ(LastDeviceReply(), u"");
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
    while (AvailableInput(kControllerChannel) < 250 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(AvailableInput(kControllerChannel), 250);

    EXPECT_EQ(Attempt(), Result::Unconfirmed);
    EXPECT_EQ(LastDeviceReply(), u"of#\r");
    EXPECT_EQ(controller_->Frames().size(), 1u);
}

TEST_F(Transfer, ClosedChannelAbortsAtOnce) {
    Connect(PtyOptions());
    ASSERT_EQ(Attempt(), Result::Confirmed);
    CloseChannel(kControllerChannel);

    EXPECT_EQ(Attempt(), Result::Aborted);
    EXPECT_LT(elapsed_, 250ms);
    EXPECT_EQ(LastDeviceReply(), u"on#\r");  // no reader ran to empty it
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
    OpenFakeDevicesOn(line);
    ASSERT_GE(OpenControllerOn("COM1"), 1);

    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_GE(elapsed_, 580ms);
    EXPECT_LT(elapsed_, 1300ms);  // the cancellation ended the write long before its own time
    line->Locked([](FakeLine& l) {
        EXPECT_EQ(l.cancels, 1);
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

TEST_F(Transfer, WorkerLeftInADeafDriverKeepsLaterAttemptsOffTheChannel) {
    auto line = std::make_shared<FakeLine>();
    line->deafWrites = true;  // the write never ends, cancelled or not
    OpenFakeDevicesOn(line);
    ASSERT_GE(OpenControllerOn("COM1"), 1);

    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_GE(elapsed_, 580ms);
    EXPECT_LT(elapsed_, 600ms + kWorkerWaitMs * 1ms + kGracePeriod + 700ms);
    if (line->Locked([](FakeLine& l) { return l.deafInside == 0; })) {
        GTEST_SKIP() << "the writer had not reached the driver when it was stopped";
    }
    EXPECT_EQ(Attempt(), Result::Stalled);  // at once, and nothing more goes to the device
    EXPECT_LT(elapsed_, 200ms);
    EXPECT_EQ(line->Locked([](FakeLine& l) { return l.writesStarted; }), 1);

    // Closing does not wait for the driver; the port closes when the write finally ends.
    CloseChannel(kControllerChannel);
    EXPECT_EQ(IsChannelOpen(kControllerChannel), 0);
    EXPECT_FALSE(line->Locked([](FakeLine& l) { return l.closed; }));
    line->LetGo();
    std::unique_lock<std::mutex> lock(line->mutex);
    EXPECT_TRUE(line->changed.wait_for(lock, 5s, [&] { return line->closed; }));
    lock.unlock();
    StartGracePeriod();  // as the next write command does
    ASSERT_GE(OpenControllerOn("COM1"), 1);
    line->Locked([](FakeLine& l) { l.deafWrites = false; });
    EXPECT_EQ(Attempt(), Result::Stalled);  // the reader hangs behind the 1.5 s write again
}

TEST_F(Transfer, ReaderThatStartsTooLateToSeeTheStopIsStillStopped) {
    // The reader clears the stop flag when it starts; one that starts after the flag was set
    // would poll the silent line for ever unless the forced stop reaches it.
    Connect(Behaving("silent"));
    SetReaderStartHook([] { std::this_thread::sleep_for(400ms); });
    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_LT(elapsed_, 2s);
    SetReaderStartHook([] { std::this_thread::sleep_for(700ms); });  // after the forced stop
    EXPECT_EQ(Attempt(), Result::Stalled);
    EXPECT_LT(elapsed_, 2s);
    SetReaderStartHook(nullptr);

    Behave(*controller_, "confirm");
    EXPECT_EQ(Attempt(), Result::Confirmed);
    EXPECT_EQ(controller_->Frames().size(), 3u);
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
