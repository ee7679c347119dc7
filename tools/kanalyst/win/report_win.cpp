// Saves the cable report where Notepad will find it, opens it there, and falls back on a
// message box.
#include "tools/kanalyst/win/report_win.h"

#include <windows.h>

#include "common/message_dialog.h"
#include "common/win/show_message_win.h"
#include "common/win/wide.h"
#include "tools/kanalyst/cable_report.h"
#include "tools/kanalyst/win/list_file_win.h"

namespace kanalyst {
namespace {

std::wstring TemporaryDirectory() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path, length);
}

std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path, length) + L"\\";
}

// True when a file written beside the tool lands there. A 32-bit program whose manifest does
// not declare an execution level runs under UAC file virtualization: its write into a protected
// folder such as Program Files "succeeds" into the user's VirtualStore, where Notepad does not
// look. The report turns virtualization off for its own process, so that such a write fails and
// the report goes to the temporary folder; false when it stays on. The plain listing keeps it:
// the configurator is built the same way, and the two must see the same listport.txt.
bool StopFileVirtualization() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD enabled = 0;
    DWORD size = 0;
    // Without the token class (before Vista) there is no virtualization.
    bool off =
        !GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled, &size) ||
        enabled == 0;
    if (!off) {
        DWORD disabled = 0;
        off = SetTokenInformation(token, TokenVirtualizationEnabled, &disabled, sizeof disabled) !=
              FALSE;
    }
    CloseHandle(token);
    return off;
}

bool StartProgram(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

std::wstring WriteReportFile(const std::string& bytes) {
    const std::wstring name = taktor::Wide(kReportName);
    const std::wstring beside = StopFileVirtualization() ? ExecutableDirectory() : std::wstring();
    for (const std::wstring& directory : {beside, TemporaryDirectory()}) {
        if (!directory.empty() && ReplaceFileWhole(directory, name, bytes)) {
            return directory + name;
        }
    }
    return std::wstring();
}

bool ShowInNotepad(const std::wstring& path) {
    const std::wstring quoted = L" \"" + path + L"\"";
    const std::wstring system = SystemDirectory();
    return (!system.empty() && StartProgram(L"\"" + system + L"notepad.exe\"" + quoted)) ||
           StartProgram(L"notepad.exe" + quoted);
}

void ShowSummaryBox(const std::string& summary, const std::wstring& path) {
    taktor::Text text = taktor::TextFromUtf8(summary) + u"\n";
    text += path.empty() ? taktor::Text(u"Отчёт не удалось сохранить.")
                         : u"Отчёт сохранён в файле:\n" + taktor::FromWide(path.c_str());
    taktor::WindowsMessageDialog().ShowMessage(u"Отчёт о шнуре", text, taktor::kInformMessage);
}

}  // namespace kanalyst
