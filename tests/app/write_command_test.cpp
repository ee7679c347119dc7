// The write command with the real channel on a pseudo-terminal and the simulated controller; the
// window layer, the port finder and the phase fields are scripted.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/ui_event.h"
#include "app/write_command.h"
#include "link/write_timing.h"
#include "tests/link/link_test_support.h"
#include "tools/simulator/pty_controller.h"

namespace taktor {
namespace {

using namespace std::chrono_literals;
using sim::PtyController;
using Log = std::vector<std::string>;

const Text kFailureTitle = u"Внимание";
const Text kNoCableText =
    u"Запись отклонена!\nСистема не обнаружила соединительный шнур.\n"
    u"1.Установите драйвер к шнуру\n"
    u"2. Соедините компьютер с устройством посредством шнура.\n3. Повторите попытку\n";
const Text kPortBusyText =
    u"Запись отклонена!\nНе удалось открыть COM порт.\nВероятно, он занят другим приложением\n\n";
const Text kLinkBrokenText =
    u"Запись отклонена!\nНе удалось открыть COM порт.\n"
    u"Вероятно проблемы с соединительным шнуром\n\n";
const Text kNoAnswerText = u"Запись отклонена!\nУстройство не отвечает.";

// What the user would see of one write: the wait window, the boxes, in one log; the port finder
// and the phase fields answer from a script.
class Desk : public WaitIndicator,
             public PortFinder,
             public PhaseFieldReader,
             public MessageDialog {
public:
    struct Shown {
        Text title;
        Text text;
        unsigned flags;
        bool waitShown;
    };

    void ShowWaitWindow() override {
        if (!waitShown) {
            waitShown = true;
            log.push_back("show");
        }
    }
    void CloseWaitWindow() override {
        if (waitShown) {
            waitShown = false;
            log.push_back("close");
        }
    }
    Text FindCablePort() override {
        log.push_back("find");
        return port;
    }
    Text ReadFieldText(int field) override {
        return field == 0 && firstField ? firstField() : fields.at(field);
    }
    int ShowMessage(const Text& title, const Text& text, unsigned flags) override {
        log.push_back(flags == kErrorQuestion ? "ask" : "tell");
        shown.push_back({title, text, flags, waitShown});
        return answers.ShowMessage(title, text, flags);
    }

    Text port;
    PhaseTexts fields = {u"60", u"5", u"60", u"5", u"60", u"5", u"60", u"5"};
    std::function<Text()> firstField;  // when set, gives the text of "Такт 1"
    ScriptedMessages answers;
    bool waitShown = false;
    Log log;
    std::vector<Shown> shown;
};

class Write : public ::testing::Test {
protected:
    void Connect(const char* behaviour) {
        sim::PtyOptions options;
        options.behaviour = *sim::ParseBehaviour(behaviour);
        controller_ = std::make_unique<PtyController>(options);
        desk_.port = TextFromUtf8(controller_->SlavePath());
    }

    // Every path ends with the port closed and the wait window gone.
    void Run(int type = kButtonPressed) {
        WriteCommandServices services{desk_, desk_, desk_, desk_, *link_};
        WriteCommand(type, services);
        EXPECT_EQ(link_->IsChannelOpen(ControllerChannel), 0);
        EXPECT_FALSE(desk_.waitShown);
    }
    // Devices of the fake line on COM1, the platform's backend elsewhere.
    void UseFakeLine(const std::shared_ptr<FakeLine>& line) {
        link_ = std::make_unique<ControllerLink>(FakeDevicesOn(line));
        desk_.port = u"COM1";
    }

    std::size_t FramesReceived() const {
        if (!controller_) {
            return 0;
        }
        controller_->WaitForFrames(kMostAttempts + 1, 200ms);  // let stragglers arrive
        return controller_->Frames().size();
    }

    void ExpectResult(const Text& title, const Text& text, unsigned flags) {
        ASSERT_FALSE(desk_.shown.empty());
        const Desk::Shown& last = desk_.shown.back();
        EXPECT_EQ(last.title, title);
        EXPECT_EQ(last.text, text);
        EXPECT_EQ(last.flags, flags);
    }

    std::unique_ptr<PtyController> controller_;
    std::unique_ptr<ControllerLink> link_ = std::make_unique<ControllerLink>();  // goes first
    Desk desk_;
};

TEST_F(Write, ConfirmedAtTheFirstAttempt) {
    Connect("confirm");
    // A channel left open on the port is closed first: the port takes one opener at a time.
    ASSERT_GE(OpenControllerOn(*link_, controller_->SlavePath()), 1);
    Run();
    EXPECT_EQ(desk_.log, (Log{"show", "find", "close", "tell"}));
    ASSERT_EQ(desk_.shown.size(), 1u);
    ExpectResult(u"Выполнено", u"Операция записи выполнена удачно.", 64);
    ASSERT_EQ(FramesReceived(), 1u);
    EXPECT_EQ(controller_->Frames()[0].durations,
              (std::array<std::uint16_t, 8>{60, 5, 60, 5, 60, 5, 60, 5}));
}

TEST_F(Write, ConfirmedAtTheThirdAttemptAfterTwoSilentOnes) {
    Connect("confirm-from=3");
    Run();
    EXPECT_EQ(desk_.log, (Log{"show", "find", "close", "tell"}));
    ExpectResult(u"Выполнено", u"Операция записи выполнена удачно.", 64);
    EXPECT_EQ(FramesReceived(), 3u);
}

TEST_F(Write, SilentControllerGetsSixEqualFrames) {
    Connect("silent");
    int reads = 0;  // the field changes under the command: only the first reading may count
    desk_.firstField = [&reads] { return TextFromUtf8(std::to_string(100 + reads++)); };
    Run();
    EXPECT_EQ(desk_.log, (Log{"show", "find", "close", "tell"}));
    ExpectResult(kFailureTitle, kNoAnswerText, 16);
    ASSERT_EQ(FramesReceived(), 6u);
    const auto frames = controller_->Frames();
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.bytes, frames[0].bytes);
    }
    EXPECT_GE(frames[0].durations[0], 100);
    EXPECT_LT(frames[0].durations[0], 100 + reads);
}

TEST_F(Write, DamageAnsweredNoBreaksTheLink) {
    Connect("mcu-damaged");
    desk_.answers = ScriptedMessages({kAnswerNo});
    Run();
    EXPECT_EQ(desk_.log, (Log{"show", "find", "ask", "close", "tell"}));
    EXPECT_TRUE(desk_.shown[0].waitShown);  // questions come while the wait window is up
    EXPECT_EQ(desk_.shown[0].text, kMcuDamageText);
    ExpectResult(kFailureTitle, kLinkBrokenText, 16);
    EXPECT_EQ(FramesReceived(), 1u);
}

TEST_F(Write, DamageAnsweredYesEveryTimeEndsWithoutAnswer) {
    Connect("mcu-damaged");
    desk_.answers = ScriptedMessages({6, 6, 6, 6, 6, 6, 6});
    Run();
    EXPECT_EQ(desk_.log,
              (Log{"show", "find", "ask", "ask", "ask", "ask", "ask", "ask", "close", "tell"}));
    ExpectResult(kFailureTitle, kNoAnswerText, 16);
    EXPECT_EQ(FramesReceived(), 6u);
}

TEST_F(Write, NoCableIsToldWhileTheWaitWindowIsUp) {
    int opens = 0;
    link_ = std::make_unique<ControllerLink>(
        [&opens](const Text&, const LineSettings&, const StopSignal&) {
            ++opens;
            return std::unique_ptr<SerialDevice>();
        });
    Run();
    EXPECT_EQ(desk_.log, (Log{"show", "find", "tell", "close"}));
    ASSERT_EQ(desk_.shown.size(), 1u);
    EXPECT_TRUE(desk_.shown[0].waitShown);
    ExpectResult(kFailureTitle, kNoCableText, 16);
    EXPECT_EQ(opens, 0);
}

TEST_F(Write, PortThatCannotBeOpenedSendsNothing) {
    desk_.port = u"COM99-taktor-absent";
    Run();
    EXPECT_EQ(desk_.log, (Log{"show", "find", "close", "tell"}));
    ExpectResult(kFailureTitle, kPortBusyText, 16);

    // Held by another program.
    Connect("confirm");
    const int other = open(controller_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    desk_.log.clear();
    desk_.shown.clear();
    Run();
    close(other);
    EXPECT_EQ(desk_.log, (Log{"show", "find", "close", "tell"}));
    ASSERT_EQ(desk_.shown.size(), 1u);
    ExpectResult(kFailureTitle, kPortBusyText, 16);
    EXPECT_EQ(FramesReceived(), 0u);
}

TEST_F(Write, OnlyAPressWithAcceptableFieldsActs) {
    Connect("confirm");
    Run(1);
    Run(kFieldFocusGained);
    for (const Text bad : {u"", u"70000", u"-5", u"2001", u"-18446744073709551615"}) {
        desk_.fields[3] = bad;
        Run();
    }
    desk_.fields.fill(u"0");
    Run();
    EXPECT_TRUE(desk_.log.empty());
    EXPECT_TRUE(desk_.shown.empty());
    EXPECT_EQ(FramesReceived(), 0u);
}

TEST_F(Write, StalledAttemptsNeverLeaveAWriteBehind) {
    auto line = std::make_shared<FakeLine>();
    line->writeTime = 700ms;  // outlives the reader's time
    UseFakeLine(line);
    Run();
    ExpectResult(kFailureTitle, kNoAnswerText, 16);
    ASSERT_TRUE(line->WaitUntil([](FakeLine& l) { return l.closed; }));
    std::lock_guard<std::mutex> guard(line->mutex);
    EXPECT_EQ(line->writesStarted, 6);
    EXPECT_EQ(line->writesFinished, 6);  // each stopped with its attempt
    EXPECT_EQ(line->stopped, 12);        // each write, and the status query behind it
}

// The cable pulled at three moments of a write: each write ends with one message, within the
// bound, with the port closed; the next finds no port to open; once the cable is plugged in
// again, a write succeeds.
TEST_F(Write, PulledCableEndsEveryWriteWithOneMessage) {
    const Text kSuccessText = u"Операция записи выполнена удачно.";
    struct Case {
        const char* behaviour;
        const Text& text;
    };
    const Case cases[] = {
        {"hangup-on-frame", kNoAnswerText},   // the frame arrives, then the line goes
        {"hangup-mid-reply", kNoAnswerText},  // "on", then the line goes
        {"hangup-after=1", kSuccessText},     // confirmed, then the line goes
    };
    char directory[] = "/tmp/taktor-cable-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    sim::PtyOptions options;
    options.linkPath = std::string(directory) + "/com5";
    controller_ = std::make_unique<PtyController>(options);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        controller_->SetBehaviour(*sim::ParseBehaviour(c.behaviour));
        for (const Text* expected : {&c.text, &kPortBusyText}) {
            for (int i = 0; i < 200 && expected == &kPortBusyText && controller_->PluggedIn();
                 ++i) {
                std::this_thread::sleep_for(10ms);  // the line goes just after the reply
            }
            desk_ = Desk();
            desk_.port = TextFromUtf8(options.linkPath);
            const auto start = Clock::now();
            Run();
            EXPECT_LT(MillisSince(start), kWriteCommandBound + 1s);
            ASSERT_EQ(desk_.shown.size(), 1u);
            EXPECT_EQ(desk_.shown[0].text, *expected);
        }
        ASSERT_TRUE(controller_->PlugIn());
        controller_->SetBehaviour(*sim::ParseBehaviour("confirm"));
        desk_ = Desk();
        desk_.port = TextFromUtf8(options.linkPath);
        Run();
        ExpectResult(u"Выполнено", kSuccessText, 64);
    }
    controller_.reset();
    rmdir(directory);
}

// Whatever the driver holds up, the command ends within its bound; the port closes once the
// driver lets go, and until then it counts as taken.
TEST_F(Write, DeafDriverEndsTheCommandWithinItsBound) {
    using Queries = FakeLine::Queries;
    struct Case {
        const char* what;
        Queries queries;
        bool deafWrites;
    };
    const Case cases[] = {
        {"status query before the frame", Queries::Deaf, false},
        {"status query during the write", Queries::DeafWhileWriting, false},
        {"write", Queries::Answer, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto line = std::make_shared<FakeLine>();
        line->queries = c.queries;
        line->deafWrites = c.deafWrites;
        desk_ = Desk();
        UseFakeLine(line);
        auto start = Clock::now();
        Run();
        EXPECT_LT(MillisSince(start), kWriteCommandBound + 1s);  // 1 s for a busy machine
        ExpectResult(kFailureTitle, kNoAnswerText, 16);
        EXPECT_EQ(desk_.shown.size(), 1u);

        // Held by the driver: a new write fails at once with the port taken.
        ASSERT_TRUE(line->WaitUntil([](FakeLine& l) { return l.deafInside > 0; }));
        desk_ = Desk();
        desk_.port = u"COM1";
        start = Clock::now();
        Run();
        EXPECT_LT(MillisSince(start), 1s);
        ExpectResult(kFailureTitle, kPortBusyText, 16);

        line->LetGo();
        EXPECT_TRUE(line->WaitUntil([](FakeLine& l) { return l.closed; }));
        ASSERT_TRUE(Eventually([&] { return OpenControllerOn(*link_, "COM1") >= 1; }));
        link_->CloseChannel(ControllerChannel);
    }
}

// A driver stuck in one port does not keep the cable out of another: plugged into another
// socket, it gets another name, and the write goes through.
TEST_F(Write, ReplugUnderANewNameWhileTheOldPortIsStuck) {
    auto line = std::make_shared<FakeLine>();
    line->deafWrites = true;
    UseFakeLine(line);
    Run();
    ExpectResult(kFailureTitle, kNoAnswerText, 16);

    Connect("confirm");
    desk_.shown.clear();
    Run();
    ExpectResult(u"Выполнено", u"Операция записи выполнена удачно.", 64);
    EXPECT_EQ(line->Locked([](FakeLine& l) { return l.closed; }), false);  // still stuck
    line->LetGo();
}

// A driver that takes longer than the stop wait to give up a stopped write, and then works: the
// attempts after it still get their time, and one of them goes through.
TEST_F(Write, SlowCancellationThenARecoveredLine) {
    auto line = std::make_shared<FakeLine>();
    line->queries = FakeLine::Queries::Answer;
    line->writeTime = 30s;                                 // holds until stopped
    line->stoppedWriteTime = kStopWait + kSettleWait / 2;  // then takes this long to let go
    line->backAfterStop = true;
    UseFakeLine(line);
    Run();
    ExpectResult(u"Выполнено", u"Операция записи выполнена удачно.", 64);
    EXPECT_EQ(line->Locked([](FakeLine& l) { return l.writesStarted; }), 2);
}

}  // namespace
}  // namespace taktor
