// For the demo on a machine without a display: presses "Запись в EEPROM" in the running
// configurator and prints the result message it shows (the message stays open). With --wait it
// only waits until the configurator's window is shown.
#include <windows.h>

#include <cstdio>
#include <string>

#include "driver.h"

using namespace e2e;

namespace {

void Print(const std::wstring& text) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    std::fputs(utf8.c_str(), stdout);
}

HWND FindBox(DWORD process) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w != nullptr;
                 w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner == process && IsWindowVisible(w)) {
                    found = w;
                    return true;
                }
            }
            return false;
        },
        milliseconds(30000));
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    HWND main = nullptr;
    HWND button = nullptr;
    WaitUntil(
        [&] {
            main = FindWindowW(L"TaktorWindow", nullptr);
            button = main != nullptr ? GetDlgItem(main, 10) : nullptr;
            return button != nullptr && IsWindowVisible(main);
        },
        milliseconds(30000));
    if (button == nullptr) {
        std::fputs("the configurator's window did not appear\n", stderr);
        return 1;
    }
    if (argc > 1 && std::string(argv[1]) == "--wait") {
        return 0;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(main, &process);
    PostMessageW(button, BM_CLICK, 0, 0);
    HWND box = FindBox(process);
    if (box == nullptr) {
        std::fputs("no result message appeared\n", stderr);
        return 1;
    }
    WaitUntil([&] { return !WindowText(GetDlgItem(box, 0xFFFF)).empty(); }, milliseconds(3000));
    Print(L"Message \"" + WindowText(box) + L"\": " + WindowText(GetDlgItem(box, 0xFFFF)) + L"\n");
    return 0;
}
