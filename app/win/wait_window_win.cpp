// WaitWindow: opened over a disabled MainWindow for the length of a write, then closed again.
#include "app/win/wait_window_win.h"

#include "app/window_ids.h"

namespace taktor {

namespace {

constexpr int kWaitWidth = 170;
constexpr int kWaitHeight = 50;
const Text kWaitText = u"ЖДИТЕ!!!";
constexpr int kWaitFontPoints = 24;

// Arial at the given size in points on the display, or nullptr.
HFONT MakeLabelFont(int points) {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    ReleaseDC(nullptr, screen);  // nothing for none
    return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, 0, 0, DEFAULT_QUALITY, 0, L"Arial");
}

}  // namespace

void WaitWindowView::ShowWaitWindow() {
    if (waiting_) {
        return;
    }
    waiting_ = true;
    EnableWindow(state_.MainWindow, FALSE);
    state_.WaitWindow = layer_.OpenWindow(kWaitWindowId, state_.MainWindow, Text(), WS_POPUP, 0, 0,
                                          kWaitWidth, kWaitHeight);
    if (state_.WaitWindow == nullptr) {
        return;
    }
    state_.waitLabel =
        layer_.CreateControl(state_.WaitWindow, kWaitLabelId, L"Static", kWaitText,
                             WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX, 0, 10, 10, 150, 30);
    DeleteObject(state_.labelFont);  // nothing for none
    state_.labelFont = MakeLabelFont(kWaitFontPoints);
    if (state_.labelFont != nullptr && state_.waitLabel != nullptr) {
        SendMessageW(state_.waitLabel, WM_SETFONT, reinterpret_cast<WPARAM>(state_.labelFont),
                     TRUE);
    }
    // The write takes no events until it ends: paint the wait window now so that it is seen.
    RedrawWindow(state_.WaitWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RedrawWindow(state_.MainWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void WaitWindowView::CloseWaitWindow() {
    if (!waiting_) {
        return;
    }
    waiting_ = false;
    // MainWindow is enabled before the wait window goes, so that the activation can return to
    // it rather than to some other program's window.
    EnableWindow(state_.MainWindow, TRUE);
    if (state_.WaitWindow != nullptr) {
        layer_.CloseWindow(state_.WaitWindow);
        state_.WaitWindow = nullptr;
    }
}

}  // namespace taktor
