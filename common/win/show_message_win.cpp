// The one modal message box of the configurator, on Windows.
#include "common/win/show_message_win.h"

#include <windows.h>

#include <vector>

#include "common/win/wide.h"

namespace taktor {

namespace {

// Windows of this thread that the box takes out of play while it is open.
struct SetAside {
    HWND owner = nullptr;
    std::vector<HWND> disabled;
    std::vector<HWND> topmost;
};

BOOL CALLBACK SetWindowAside(HWND hwnd, LPARAM param) {
    SetAside& aside = *reinterpret_cast<SetAside*>(param);
    if ((GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) {
        SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        aside.topmost.push_back(hwnd);
    }
    // The owner is left to the box itself, which disables it and enables it again before it
    // goes, so that the activation returns to the owner.
    if (hwnd != aside.owner && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
        EnableWindow(hwnd, FALSE);
        aside.disabled.push_back(hwnd);
    }
    return TRUE;
}

}  // namespace

int WindowsMessageDialog::ShowMessage(const Text& title, const Text& text, unsigned flags) {
    SetAside aside;
    HWND foreground = GetForegroundWindow();
    DWORD process = 0;
    if (foreground != nullptr) {
        GetWindowThreadProcessId(foreground, &process);
    }
    if (process == GetCurrentProcessId()) {
        aside.owner = foreground;
    }
    EnumThreadWindows(GetCurrentThreadId(), SetWindowAside, reinterpret_cast<LPARAM>(&aside));

    const int answer = MessageBoxW(aside.owner, Wide(text), Wide(title), flags);

    for (auto it = aside.disabled.rbegin(); it != aside.disabled.rend(); ++it) {
        if (IsWindow(*it)) {
            EnableWindow(*it, TRUE);
        }
    }
    for (HWND hwnd : aside.topmost) {
        if (IsWindow(hwnd)) {
            SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    return answer;
}

}  // namespace taktor
