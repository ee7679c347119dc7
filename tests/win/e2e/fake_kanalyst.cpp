// Test double of the port-listing tool: copies fake_list.txt from its own directory to
// listport.txt there, and counts its runs in fake_runs.txt. With no fake_list.txt it writes no
// list at all; with fake_delay.txt it first sleeps for the milliseconds that file names.
#include <windows.h>

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir.erase(dir.find_last_of(L'\\') + 1);

    HANDLE runs = CreateFileW((dir + L"fake_runs.txt").c_str(), FILE_APPEND_DATA, 0, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (runs != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(runs, "run\n", 4, &written, nullptr);
        CloseHandle(runs);
    }
    HANDLE delay = CreateFileW((dir + L"fake_delay.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (delay != INVALID_HANDLE_VALUE) {
        char digits[16] = {};
        DWORD got = 0;
        ReadFile(delay, digits, sizeof(digits) - 1, &got, nullptr);
        CloseHandle(delay);
        Sleep(static_cast<DWORD>(atoi(digits)));
    }
    CopyFileW((dir + L"fake_list.txt").c_str(), (dir + L"listport.txt").c_str(), FALSE);
    return 0;
}
