// The configurator's window as a user meets it: start-up state, blinking fields, the write
// button following the fields, keyboard focus, and the exit confirmation.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "driver.h"

namespace e2e {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

const wchar_t kCaption[] = L"Конфигуратор                  Taktor v. 2.3";

bool Has(const std::vector<COLORREF>& colours, COLORREF colour) {
    return std::find(colours.begin(), colours.end(), colour) != colours.end();
}

TEST(StartUp, MainWindowHasItsCaptionFrameSizeAndPlace) {
    Program program;
    HWND main = program.Main();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(WindowText(main), kCaption);

    RECT client = {};
    GetClientRect(main, &client);
    EXPECT_EQ(client.right, 708);
    EXPECT_EQ(client.bottom, 167);

    const LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_POPUP | WS_CHILD), 0);
    const LONG_PTR exStyle = GetWindowLongPtrW(main, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & ~static_cast<LONG_PTR>(WS_EX_WINDOWEDGE), 0) << std::hex << exStyle;
    EXPECT_EQ(GetWindow(main, GW_OWNER), nullptr);

    // Centred on the primary screen, whatever position was asked for.
    RECT outer = {};
    GetWindowRect(main, &outer);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

    // Class: double clicks; the icon and background as they show on the screen (Wine answers
    // no class handles across processes, and no cursor images either).
    EXPECT_NE(GetClassLongPtrW(main, GCL_STYLE) & CS_DBLCLKS, 0u);
    const RECT onScreen = ClientRectOnScreen(main);
    EXPECT_EQ(ScreenPixel(onScreen.left + 120, onScreen.top + 150), GetSysColor(COLOR_BTNFACE));
    EXPECT_TRUE(CaptionShowsProgramIcon(main));
    EXPECT_FALSE(IsZoomed(main));
    EXPECT_TRUE(IsWindowEnabled(main));
}

struct ControlExpectation {
    int id;
    const wchar_t* windowClass;
    RECT rect;
    const wchar_t* text;
    LONG_PTR style;
    LONG_PTR exStyle;
};

TEST(StartUp, ControlsStandInCreationOrderWithTheirDefaults) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    const LONG_PTR field =
        WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
    const ControlExpectation expected[] = {
        {1, L"Static", {5, 5, 703, 137}, L"", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 0},
        {2, L"Edit", {125, 142, 195, 162}, L"60", field, WS_EX_CLIENTEDGE},
        {3, L"Edit", {196, 142, 266, 162}, L"5", field, WS_EX_CLIENTEDGE},
        {4, L"Edit", {268, 142, 338, 162}, L"60", field, WS_EX_CLIENTEDGE},
        {5, L"Edit", {340, 142, 410, 162}, L"5", field, WS_EX_CLIENTEDGE},
        {6, L"Edit", {412, 142, 482, 162}, L"60", field, WS_EX_CLIENTEDGE},
        {7, L"Edit", {484, 142, 554, 162}, L"5", field, WS_EX_CLIENTEDGE},
        {8, L"Edit", {556, 142, 626, 162}, L"60", field, WS_EX_CLIENTEDGE},
        {9, L"Edit", {629, 142, 699, 162}, L"5", field, WS_EX_CLIENTEDGE},
        {10,
         L"Button",
         {5, 142, 115, 162},
         L"Запись в EEPROM",
         WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON,
         0},
    };
    const auto guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HWND child = GetWindow(program.Main(), GW_CHILD);
    for (const ControlExpectation& e : expected) {
        ASSERT_NE(child, nullptr) << "control " << e.id << " is missing";
        SCOPED_TRACE(e.id);
        EXPECT_EQ(GetDlgCtrlID(child), e.id);
        EXPECT_EQ(_wcsicmp(ClassName(child).c_str(), e.windowClass), 0);
        const RECT r = RectInParent(child);
        EXPECT_EQ(r.left, e.rect.left);
        EXPECT_EQ(r.top, e.rect.top);
        EXPECT_EQ(r.right, e.rect.right);
        EXPECT_EQ(r.bottom, e.rect.bottom);
        EXPECT_EQ(WindowText(child), e.text);
        const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
        EXPECT_EQ(style & e.style, e.style) << std::hex << style;
        EXPECT_EQ(GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, e.exStyle);
        EXPECT_TRUE(IsWindowEnabled(child));
        if (e.id != 1) {
            // Wine answers WM_GETFONT with nothing across processes: compare the ink of the
            // control's text with the same text drawn here in the default GUI font.
            EXPECT_TRUE(
                WaitUntil([&] { return TextInkMatches(child, guiFont); }, milliseconds(2000)));
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "an unexpected control";
    // The banner shows its picture.
    EXPECT_NE(SendMessageW(GetDlgItem(program.Main(), 1), STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
}

TEST(StartUp, BannerIsPaintedAtItsPlace) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    const RECT client = ClientRectOnScreen(program.Main());
    // Picture x, y map to client x + 5, y + 5: a rule, a gap, a red and a green cell.
    auto at = [&](int x, int y) { return ScreenPixel(client.left + 5 + x, client.top + 5 + y); };
    ASSERT_TRUE(WaitUntil([&] { return at(3, 50) == RGB(0, 0, 0); }, milliseconds(3000)));
    EXPECT_EQ(at(5, 50), RGB(255, 255, 255));
    EXPECT_EQ(at(125, 75), RGB(255, 0, 0));    // direction 1, Такт 1: К
    EXPECT_EQ(at(125, 104), RGB(0, 255, 0));   // direction 2, Такт 1: З
    EXPECT_EQ(at(340, 75), RGB(255, 255, 0));  // direction 1, Такт 4: Ж
}

TEST(Validation, DefaultsStayWhiteAndTheButtonEnabled) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    const POINT p = BlankPointIn(program.Field(0));
    const auto colours = ColoursSeen(p.x, p.y, milliseconds(1200));
    EXPECT_FALSE(Has(colours, kRed));
    EXPECT_TRUE(IsWindowEnabled(program.Button()));
}

TEST(Validation, InvalidFieldBlinksAndDisablesTheButtonUntilFixed) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    program.SetFieldText(2, L"2001");
    const auto start = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(program.Button()); }, milliseconds(3000),
                          milliseconds(5)));
    // Two ticks of 250 ms, with room for a slow machine.
    EXPECT_LT(Clock::now() - start, milliseconds(1500));

    const POINT p = BlankPointIn(program.Field(2));
    const auto colours = ColoursSeen(p.x, p.y, milliseconds(1200));
    EXPECT_TRUE(Has(colours, kRed));
    EXPECT_TRUE(Has(colours, kWhite));
    const POINT valid = BlankPointIn(program.Field(3));
    EXPECT_FALSE(Has(ColoursSeen(valid.x, valid.y, milliseconds(600)), kRed));

    program.SetFieldText(2, L"2000");
    ASSERT_TRUE(
        WaitUntil([&] { return IsWindowEnabled(program.Button()) != FALSE; }, milliseconds(3000)));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(Has(ColoursSeen(p.x, p.y, milliseconds(700)), kRed));
}

TEST(Validation, EmptyNegativeAndPastedTextAreJudged) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    program.SetFieldText(0, L"");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(program.Button()); }, milliseconds(3000)));
    program.SetFieldText(0, L"12ab");  // pasted text: the number at its start counts
    EXPECT_TRUE(
        WaitUntil([&] { return IsWindowEnabled(program.Button()) != FALSE; }, milliseconds(3000)));
    program.SetFieldText(7, L"-5");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(program.Button()); }, milliseconds(3000)));
    const POINT p = BlankPointIn(program.Field(7));
    EXPECT_TRUE(Has(ColoursSeen(p.x, p.y, milliseconds(1000)), kRed));
}

TEST(Validation, AllZeroFieldsBlinkTogether) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    for (int i = 0; i < 8; ++i) {
        program.SetFieldText(i, i % 2 == 0 ? L"0" : L"00");
    }
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(program.Button()); }, milliseconds(3000)));
    // Every field turns red on the same passes.
    std::vector<POINT> points;
    for (int i = 0; i < 8; ++i) {
        points.push_back(BlankPointIn(program.Field(i)));
    }
    const bool allRedOnce = WaitUntil(
        [&] {
            return std::all_of(points.begin(), points.end(),
                               [](POINT p) { return ScreenPixel(p.x, p.y) == kRed; });
        },
        milliseconds(2000), milliseconds(10));
    EXPECT_TRUE(allRedOnce);

    program.SetFieldText(4, L"1");
    EXPECT_TRUE(
        WaitUntil([&] { return IsWindowEnabled(program.Button()) != FALSE; }, milliseconds(3000)));
}

TEST(Validation, TypedLetterIsRefused) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    SendMessageW(program.Field(1), WM_CHAR, L'7', 0);
    SendMessageW(program.Field(1), WM_CHAR, L'x', 0);
    EXPECT_EQ(program.FieldText(1).find(L'x'), std::wstring::npos);
    EXPECT_NE(program.FieldText(1).find(L'7'), std::wstring::npos);
}

// The thread that owns the program's windows, and its focus.
HWND FocusOf(const Program& program) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(program.Main(), nullptr), &info);
    return info.hwndFocus;
}

void PressKey(WORD key, bool shift = false) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD vk, bool up) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift) {
        add(VK_SHIFT, false);
    }
    add(key, false);
    add(key, true);
    if (shift) {
        add(VK_SHIFT, true);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

TEST(Keyboard, TabWalksTheControlsInCreationOrderAndWraps) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    SetForegroundWindow(program.Main());
    ASSERT_TRUE(
        WaitUntil([&] { return GetForegroundWindow() == program.Main(); }, milliseconds(3000)));
    std::vector<HWND> order;
    for (int i = 0; i < 8; ++i) {
        order.push_back(program.Field(i));
    }
    order.push_back(program.Button());

    // Start from the first field.
    PressKey(VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(program) == order[0]; }, milliseconds(2000)))
        << "focus at " << FocusOf(program);
    for (size_t step = 1; step <= order.size(); ++step) {
        PressKey(VK_TAB);
        const HWND want = order[step % order.size()];
        EXPECT_TRUE(WaitUntil([&] { return FocusOf(program) == want; }, milliseconds(2000)))
            << "after " << step << " more Tab presses";
    }
    PressKey(VK_TAB, true);
    EXPECT_TRUE(
        WaitUntil([&] { return FocusOf(program) == program.Button(); }, milliseconds(2000)));
    PressKey(VK_TAB, true);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(program) == order[7]; }, milliseconds(2000)));

    // With the button disabled, Tab from the eighth field goes straight to the first.
    program.SetFieldText(0, L"");
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(program.Button()); }, milliseconds(3000)));
    PressKey(VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(program) == order[0]; }, milliseconds(2000)));
    PressKey(VK_TAB, true);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(program) == order[7]; }, milliseconds(2000)));
}

TEST(Keyboard, FocusComesBackAfterAnotherWindowWasActive) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    SetForegroundWindow(program.Main());
    ASSERT_TRUE(
        WaitUntil([&] { return GetForegroundWindow() == program.Main(); }, milliseconds(3000)));
    for (int i = 0; i < 4; ++i) {
        PressKey(VK_TAB);
    }
    ASSERT_TRUE(
        WaitUntil([&] { return FocusOf(program) == program.Field(3); }, milliseconds(2000)));

    HWND other = CreateWindowExW(0, L"Static", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    SetForegroundWindow(other);
    ASSERT_TRUE(WaitUntil(
        [&] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
            return GetForegroundWindow() == other;
        },
        milliseconds(3000)));
    SetForegroundWindow(program.Main());
    EXPECT_TRUE(
        WaitUntil([&] { return FocusOf(program) == program.Field(3); }, milliseconds(3000)));
    DestroyWindow(other);
}

TEST(Exit, DecliningKeepsEverythingAndTheBlinkingGoesOn) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    program.SetFieldText(5, L"abc");  // letters only: a valid zero
    program.SetFieldText(6, L"");
    program.RequestClose();
    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(5000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, L"Выход");
    EXPECT_EQ(box.text, L"Вы действительно хотите выйти из программы?");
    EXPECT_EQ(GetWindow(box.box, GW_OWNER), program.Main());
    EXPECT_NE(GetDlgItem(box.box, IDYES), nullptr);
    EXPECT_NE(GetDlgItem(box.box, IDNO), nullptr);
    AnswerMessageBox(box.box, IDNO);

    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box.box); }, milliseconds(3000)));
    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(IsWindowVisible(program.Main()));
    EXPECT_TRUE(IsWindowEnabled(program.Main()));
    EXPECT_EQ(program.FieldText(5), L"abc");
    EXPECT_EQ(program.FieldText(6), L"");
    EXPECT_EQ(program.FieldText(0), L"60");
    const POINT p = BlankPointIn(program.Field(6));
    EXPECT_TRUE(Has(ColoursSeen(p.x, p.y, milliseconds(1200)), kRed));
}

TEST(Exit, ConfirmingEndsTheProcessWithCodeZero) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    // The system menu's close goes the same way as the close box.
    PostMessageW(program.Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(5000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, L"Выход");
    EXPECT_TRUE(program.Running());
    AnswerMessageBox(box.box, IDYES);
    EXPECT_EQ(program.WaitForExit(milliseconds(10000)), 0u);
}

TEST(Exit, AQuitMessageFromOutsideEndsNothing) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    const DWORD thread = GetWindowThreadProcessId(program.Main(), nullptr);
    ASSERT_TRUE(PostThreadMessageW(thread, WM_QUIT, 0, 0));
    ASSERT_TRUE(PostMessageW(program.Main(), WM_QUIT, 0, 0));
    EXPECT_EQ(program.WaitForExit(milliseconds(1500)), static_cast<DWORD>(STILL_ACTIVE));

    // The program still answers: the validation goes on and a close request asks as before.
    program.SetFieldText(2, L"2001");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(program.Button()); }, milliseconds(3000)));
    program.RequestClose();
    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(5000));
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.title, L"Выход");
    AnswerMessageBox(box.box, IDYES);
    EXPECT_EQ(program.WaitForExit(milliseconds(10000)), 0u);
}

TEST(Exit, EnterInTheConfirmationAnswersYes) {
    Program program;
    ASSERT_NE(program.Main(), nullptr);
    program.RequestClose();
    const MessageBoxSeen box = program.WaitForMessageBox(milliseconds(5000));
    ASSERT_NE(box.box, nullptr);
    // Yes is the default button.
    SetForegroundWindow(box.box);
    WaitUntil([&] { return GetForegroundWindow() == box.box; }, milliseconds(2000));
    PressKey(VK_RETURN);
    EXPECT_EQ(program.WaitForExit(milliseconds(10000)), 0u);
}

}  // namespace
}  // namespace e2e
