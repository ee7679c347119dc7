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
    for (const std::wstring& directory : {ExecutableDirectory(), TemporaryDirectory()}) {
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
