// MainWindow: its frame, its controls in creation (and Tab) order, and access to the fields.
#include "app/win/main_window_win.h"

#include <algorithm>

#include "app/window_ids.h"
#include "taktor_version.h"

namespace taktor {

namespace {

const Text kMainCaption = u"Конфигуратор                  Taktor v. " TAKTOR_VERSION;
constexpr int kClientWidth = 708;
constexpr int kClientHeight = 167;
constexpr int kRequestedX = 440;
constexpr int kRequestedY = 161;
constexpr DWORD kMainStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

const Text kWriteButtonText = u"Запись в EEPROM";
const std::array<const char16_t*, kPhaseCount> kDefaultDurations = {u"60", u"5", u"60", u"5",
                                                                    u"60", u"5", u"60", u"5"};
constexpr std::array<int, kPhaseCount> kFieldX = {125, 196, 268, 340, 412, 484, 556, 629};
constexpr int kFieldY = 142;
constexpr int kFieldWidth = 70;
constexpr int kFieldHeight = 20;

}  // namespace

void MainWindowView::BuildMainWindow() {
    const SIZE outer = WindowLayer::OuterSize(kMainStyle, kClientWidth, kClientHeight);
    state_.MainWindow = layer_.OpenWindow(kMainWindowId, nullptr, kMainCaption, kMainStyle,
                                          kRequestedX, kRequestedY, outer.cx, outer.cy);
    if (state_.MainWindow == nullptr) {
        return;
    }
    state_.bannerPicture =
        layer_.CreateControl(state_.MainWindow, kBannerId, L"STATIC", Text(),
                             WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_BITMAP, 0, 5, 5, 698, 132);
    if (state_.bannerPicture != nullptr && state_.cycleBanner != nullptr) {
        SendMessageW(state_.bannerPicture, STM_SETIMAGE, IMAGE_BITMAP,
                     reinterpret_cast<LPARAM>(state_.cycleBanner));
    }
    for (int i = 0; i < kPhaseCount; ++i) {
        state_.PhaseField[i] = layer_.CreateControl(
            state_.MainWindow, kFirstPhaseFieldId + i, L"Edit", kDefaultDurations[i],
            WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL,
            WS_EX_CLIENTEDGE, kFieldX[i], kFieldY, kFieldWidth, kFieldHeight);
    }
    state_.WriteButton = layer_.CreateControl(
        state_.MainWindow, kWriteButtonId, L"Button", kWriteButtonText,
        WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, 0, 5, 142, 110, 20);
    SetTimer(state_.MainWindow, kValidationTimerId, kValidationPeriodMs, nullptr);
    WindowLayer::ShowAgain(state_.MainWindow);
}

Text MainWindowView::ReadFieldText(int field) {
    HWND control = state_.PhaseField[field];
    const int length = control != nullptr ? GetWindowTextLengthW(control) : 0;
    Text text(static_cast<size_t>(std::max(length, 0)) + 1, u'\0');
    const int got =
        length > 0 ? GetWindowTextW(control, reinterpret_cast<wchar_t*>(&text[0]), length + 1) : 0;
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

void MainWindowView::SetFieldBackground(int field, Colour colour) {
    layer_.SetFieldBackground(state_.PhaseField[field], colour);
}

void MainWindowView::SetWriteButtonDisabled(bool disabled) {
    EnableWindow(state_.WriteButton, disabled ? FALSE : TRUE);  // nothing for no button
}

}  // namespace taktor
