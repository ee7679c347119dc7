// The whole write as a user sees it: the wait window, the port-listing tool (a test double), the
// simulated controller on COM5, and one result message for every outcome.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "driver.h"
#include "link/write_timing.h"

namespace e2e {
namespace {

const wchar_t kFailureTitle[] = L"Внимание";
const char kDefaultsFrame[] = "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01";

// The simulator that stands in for the controller: its behaviour and the frames it received.
class Controller {
public:
    Controller()
        : control_(WinePath(Environment(L"TAKTOR_SIM_CONTROL"))),
          log_(WinePath(Environment(L"TAKTOR_SIM_LOG"))) {}

    bool Present() const { return !control_.empty() && !log_.empty(); }

    // One or more words of the control file ("confirm", "plug confirm").
    void Behave(const std::string& words) {
        behaveStart_ = ReadFileBytes(log_).size();
        WriteFileBytes(control_, words + "\n");
        // The simulator notes each word in its log; wait for the last so no frame races it.
        WaitForNote("# control " + words.substr(words.rfind(' ') + 1));
        seen_ = ReadFileBytes(log_).size();
    }

    // A note of the log since the last Behave began.
    bool WaitForNote(const std::string& note) const {
        return WaitUntil(
            [&] { return ReadFileBytes(log_).find(note, behaveStart_) != std::string::npos; },
            milliseconds(3000));
    }

    // The frame lines logged since the last Behave.
    std::vector<std::string> NewFrames() const {
        std::vector<std::string> frames;
        const std::string log = ReadFileBytes(log_);
        size_t at = seen_;
        while ((at = log.find("frame=", at)) != std::string::npos) {
            const size_t end = log.find('\n', at);
            frames.push_back(log.substr(at, end - at));
            at = end;
        }
        return frames;
    }

private:
    std::wstring control_;
    std::wstring log_;
    size_t seen_ = 0;
    size_t behaveStart_ = 0;
};

class Write : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(controller.Present()) << "run under with-simulator.sh";
        tool = Environment(L"TAKTOR_FAKE_TOOL");
        ASSERT_FALSE(tool.empty());
    }

    // Presses the write button and returns the result message once it is shown.
    MessageBoxSeen PressAndWaitForResult(Program& program, milliseconds timeout) {
        program.PressWriteButton();
        return program.WaitForMessageBox(timeout);
    }

    // After the last message: MainWindow enabled and active, no wait window.
    void ExpectIdleAfter(Program& program, const MessageBoxSeen& box) {
        AnswerMessageBox(box.box, IDOK);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box.box); }, milliseconds(3000)));
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(program.Main()) != FALSE; },
                              milliseconds(3000)));
        // The program enables MainWindow first and closes the wait window just after.
        EXPECT_TRUE(
            WaitUntil([&] { return program.FindWaitWindow() == nullptr; }, milliseconds(3000)));
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        EXPECT_TRUE(WaitUntil(
            [&] {
                GetGUIThreadInfo(GetWindowThreadProcessId(program.Main(), nullptr), &info);
                return info.hwndActive == program.Main();
            },
            milliseconds(3000)));
        EXPECT_TRUE(program.Running());
    }

    Controller controller;
    std::wstring tool;
};

TEST_F(Write, ConfirmedWriteShowsTheWaitWindowThenSuccess) {
    controller.Behave("confirm");
    // The tool takes its time, so that the wait window can be looked at.
    Program program(tool, "COMMUNICATIONS PORT (COM1)\nUSB-SERIAL CH340 (COM5)\n", 1500);
    ASSERT_NE(program.Main(), nullptr);
    program.PressWriteButton();

    // The wait window: a bare pop-up owned by MainWindow, centred over it, with its label, while
    // MainWindow is disabled.
    HWND wait = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (wait = program.FindWaitWindow()) != nullptr; },
                          milliseconds(10000), milliseconds(2)));
    EXPECT_FALSE(IsWindowEnabled(program.Main()));
    EXPECT_EQ(GetWindow(wait, GW_OWNER), program.Main());
    EXPECT_EQ(GetWindowLongPtrW(wait, GWL_STYLE) &
                  (WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_BORDER),
              WS_POPUP);
    RECT waitRect = {};
    RECT mainRect = {};
    GetWindowRect(wait, &waitRect);
    GetWindowRect(program.Main(), &mainRect);
    EXPECT_EQ(waitRect.right - waitRect.left, 170);
    EXPECT_EQ(waitRect.bottom - waitRect.top, 50);
    EXPECT_EQ(waitRect.left, mainRect.left + ((mainRect.right - mainRect.left) - 170) / 2);
    EXPECT_EQ(waitRect.top, mainRect.top + ((mainRect.bottom - mainRect.top) - 50) / 2);
    // The label (its text can only be read while a message box keeps the program's thread
    // taking messages: see the damage question below).
    HWND label = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            label = GetWindow(wait, GW_CHILD);
            return label != nullptr && (GetWindowLongPtrW(label, GWL_STYLE) & WS_VISIBLE) != 0;
        },
        milliseconds(3000), milliseconds(2)));
    EXPECT_EQ(ClassName(label), L"Static");
    EXPECT_EQ(GetWindowLongPtrW(label, GWL_STYLE), WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX);
    const RECT labelRect = RectInParent(label);
    EXPECT_EQ(labelRect.left, 10);
    EXPECT_EQ(labelRect.top, 10);
    EXPECT_EQ(labelRect.right, 160);
    EXPECT_EQ(labelRect.bottom, 40);

    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(15000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, L"Выполнено");
    EXPECT_EQ(box.text, L"Операция записи выполнена удачно.");
    EXPECT_EQ(program.FindWaitWindow(), nullptr) << "the wait window closes before the message";
    const auto frames = controller.NewFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].rfind(kDefaultsFrame, 0), 0u);
    ExpectIdleAfter(program, box);
}

TEST_F(Write, WaitLabelIsInLargeArial) {
    controller.Behave("silent");
    Program program(tool, "USB-SERIAL CH340 (COM5)\n", 1500);
    ASSERT_NE(program.Main(), nullptr);
    program.PressWriteButton();
    HWND wait = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (wait = program.FindWaitWindow()) != nullptr; },
                          milliseconds(10000), milliseconds(2)));
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    HFONT arial = CreateFontW(-MulDiv(24, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, 0, 0, DEFAULT_QUALITY, 0, L"Arial");
    // The 32-pixel text is cut at the foot of the 30-pixel label: compare the width, and the
    // height as far as the label shows it.
    const SIZE expected = DrawnInk(arial, L"ЖДИТЕ!!!");
    SIZE shown = {};
    EXPECT_TRUE(WaitUntil(
        [&] {
            shown = ShownInk(GetWindow(wait, GW_CHILD), 0);
            return std::abs(shown.cx - expected.cx) <= 1 && shown.cy >= expected.cy * 3 / 4 &&
                   shown.cy <= expected.cy;
        },
        milliseconds(1500)))
        << shown.cx << " x " << shown.cy << " against " << expected.cx << " x " << expected.cy;
    DeleteObject(arial);
    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(15000));
    ASSERT_NE(box.box, nullptr);
    ExpectIdleAfter(program, box);
}

TEST_F(Write, NoCableIsReportedWhileTheWaitWindowIsStillShown) {
    controller.Behave("confirm");
    Program program(tool, "COMMUNICATIONS PORT (COM1)\nusb-serial ch340 (COM5)\n");
    ASSERT_NE(program.Main(), nullptr);
    const MessageBoxSeen box = PressAndWaitForResult(program, milliseconds(15000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, kFailureTitle);
    EXPECT_EQ(box.text,
              L"Запись отклонена!\nСистема не обнаружила соединительный шнур.\n1.Установите "
              L"драйвер к шнуру\n2. Соедините компьютер с устройством посредством шнура.\n3. "
              L"Повторите попытку\n");
    EXPECT_NE(program.FindWaitWindow(), nullptr);
    EXPECT_FALSE(IsWindowEnabled(program.Main()));
    ExpectIdleAfter(program, box);
    EXPECT_TRUE(controller.NewFrames().empty());
}

TEST_F(Write, PortThatCannotBeOpened) {
    controller.Behave("confirm");
    Program program(tool, "PROLIFIC USB-TO-SERIAL COMM PORT (COM8)\n");
    ASSERT_NE(program.Main(), nullptr);
    const MessageBoxSeen box = PressAndWaitForResult(program, milliseconds(15000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, kFailureTitle);
    EXPECT_EQ(box.text,
              L"Запись отклонена!\nНе удалось открыть COM порт.\nВероятно, он занят другим "
              L"приложением\n\n");
    EXPECT_EQ(program.FindWaitWindow(), nullptr);
    ExpectIdleAfter(program, box);
    EXPECT_TRUE(controller.NewFrames().empty());
}

TEST_F(Write, SilentControllerGetsSixFramesThenNoAnswer) {
    controller.Behave("silent");
    Program program(tool, "USB-SERIAL CH340 (COM5)\n");
    ASSERT_NE(program.Main(), nullptr);
    program.SetFieldText(0, L"2000");
    std::this_thread::sleep_for(milliseconds(600));  // two validation ticks
    const MessageBoxSeen box = PressAndWaitForResult(program, milliseconds(20000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, kFailureTitle);
    EXPECT_EQ(box.text, L"Запись отклонена!\nУстройство не отвечает.");
    const auto frames = controller.NewFrames();
    ASSERT_EQ(frames.size(), 6u);
    for (const std::string& frame : frames) {
        EXPECT_EQ(frame, frames[0]);
    }
    EXPECT_EQ(frames[0].rfind("frame=D0 07 05 00", 0), 0u);
    ExpectIdleAfter(program, box);
}

TEST_F(Write, DamageAnsweredNoBreaksTheLink) {
    controller.Behave("mcu-damaged");
    Program program(tool, "USB-SERIAL CH340 (COM5)\n");
    ASSERT_NE(program.Main(), nullptr);
    const MessageBoxSeen question = PressAndWaitForResult(program, milliseconds(15000));
    ASSERT_NE(question.box, nullptr);
    EXPECT_EQ(question.title, L"Внимание!");
    EXPECT_EQ(question.text,
              L"Повреждена EEPROM микроконтроллера\nДля повтора операции нажмите “ДА”\nДля "
              L"разрыва связи нажмите “НЕТ”\n");
    EXPECT_NE(GetDlgItem(question.box, IDYES), nullptr);
    EXPECT_NE(GetDlgItem(question.box, IDNO), nullptr);
    HWND wait = program.FindWaitWindow();
    ASSERT_NE(wait, nullptr) << "the wait window stays during the question";
    EXPECT_EQ(WindowText(GetWindow(wait, GW_CHILD)), L"ЖДИТЕ!!!");
    AnswerMessageBox(question.box, IDNO);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question.box); }, milliseconds(3000)));

    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(10000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, kFailureTitle);
    EXPECT_EQ(box.text,
              L"Запись отклонена!\nНе удалось открыть COM порт.\nВероятно проблемы с "
              L"соединительным шнуром\n\n");
    EXPECT_EQ(controller.NewFrames().size(), 1u);
    ExpectIdleAfter(program, box);
}

// The cable pulled at three moments of a write: one result message within the bound, the
// program idle and answering after it, and a write after the cable is plugged in again succeeds.
TEST_F(Write, PulledCableEndsWithOneMessageAndAWriteAfterReplugSucceeds) {
    const std::wstring kNoAnswer = L"Запись отклонена!\nУстройство не отвечает.";
    const std::wstring kDone = L"Операция записи выполнена удачно.";
    const std::wstring kPortBusy =
        L"Запись отклонена!\nНе удалось открыть COM порт.\nВероятно, он занят другим "
        L"приложением\n\n";
    struct Case {
        const char* control;
        const std::wstring& text;
    };
    const Case cases[] = {
        {"hangup-on-frame", kNoAnswer},   // right after the frame
        {"hangup-mid-reply", kNoAnswer},  // "on", then the line goes
        {"hangup-after=1", kDone},        // confirmed, then the line goes
        {"hangup", kPortBusy},            // before the press: no port to open
    };
    // The bound of a write, and a margin for Wine.
    const milliseconds bound = taktor::kWriteCommandBound + milliseconds(3000);
    Program program(tool, "USB-SERIAL CH340 (COM5)\n");
    ASSERT_NE(program.Main(), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        controller.Behave(c.control);
        const auto start = Clock::now();
        const MessageBoxSeen box = PressAndWaitForResult(program, milliseconds(20000));
        const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        ASSERT_NE(box.box, nullptr);
        std::printf("%s: result message after %lld ms\n", c.control,
                    static_cast<long long>(took.count()));
        EXPECT_LT(took, bound);
        EXPECT_EQ(box.text, c.text);
        ExpectIdleAfter(program, box);
        EXPECT_EQ(program.WaitForMessageBox(milliseconds(1000)).box, nullptr) << "one message";

        EXPECT_TRUE(controller.WaitForNote("# hung up"));
        controller.Behave("plug confirm");
        const MessageBoxSeen again = PressAndWaitForResult(program, milliseconds(15000));
        ASSERT_NE(again.box, nullptr);
        EXPECT_EQ(again.text, kDone);
        ExpectIdleAfter(program, again);
    }
}

// Wine keeps a port to no one program: a second configurator is still told that the port is
// taken while the first one writes, and the first one's write goes on undisturbed.
TEST_F(Write, SecondConfiguratorIsToldThatThePortIsTaken) {
    controller.Behave("silent");  // the first keeps the port for its six attempts
    Program first(tool, "USB-SERIAL CH340 (COM5)\n");
    Program second(tool, "USB-SERIAL CH340 (COM5)\n");
    ASSERT_NE(first.Main(), nullptr);
    ASSERT_NE(second.Main(), nullptr);
    first.PressWriteButton();
    ASSERT_TRUE(WaitUntil([&] { return !controller.NewFrames().empty(); }, milliseconds(10000)));
    const MessageBoxSeen busy = PressAndWaitForResult(second, milliseconds(15000));
    ASSERT_NE(busy.box, nullptr);
    EXPECT_EQ(busy.text,
              L"Запись отклонена!\nНе удалось открыть COM порт.\nВероятно, он занят другим "
              L"приложением\n\n");
    const MessageBoxSeen done = first.WaitForMessageBox(milliseconds(15000));
    ASSERT_NE(done.box, nullptr);
    EXPECT_EQ(done.text, L"Запись отклонена!\nУстройство не отвечает.");
    EXPECT_EQ(controller.NewFrames().size(), 6u);  // all of them the first one's
    AnswerMessageBox(busy.box, IDOK);
    AnswerMessageBox(done.box, IDOK);
}

}  // namespace
}  // namespace e2e
