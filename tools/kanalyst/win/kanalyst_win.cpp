// Kanalyst.exe: lists the serial ports present into listport.txt beside itself and ends; with
// /report it writes the cable report instead and shows it. The list run always ends within a
// bounded time. The report's test open has a bound too, but a process whose open is stuck in a
// driver lingers, without a window, until the driver lets go: Windows ends no process whose I/O
// is still pending.
//
// Exit codes: 0 file written, 1 file could not be written, 2 the enumeration did not finish in
// time and the file holds what was found until then.

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/message_dialog.h"
#include "common/win/dll_search_win.h"
#include "common/win/show_message_win.h"
#include "common/win/wide.h"
#include "common/worker.h"
#include "tools/kanalyst/cable_report.h"
#include "tools/kanalyst/port_list.h"
#include "tools/kanalyst/tool_mode.h"
#include "tools/kanalyst/win/list_file_win.h"
#include "tools/kanalyst/win/serial_ports_win.h"

namespace kanalyst {
namespace {

// The test open of the one port the configurator would take, on a worker with a time limit.
constexpr DWORD kDeniedRetryMs = 200;

OpenOutcome OpenPortOnce(const std::wstring& path) {
    OpenOutcome outcome;
    for (int attempt = 1;; ++attempt) {
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return {PortOpen::Free, 0};
        }
        outcome.error = GetLastError();
        if (outcome.error != ERROR_ACCESS_DENIED || attempt == 2) {
            break;
        }
        Sleep(kDeniedRetryMs);
    }
    const DWORD error = outcome.error;
    outcome.result =
        error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? PortOpen::Busy
        : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PortOpen::Missing
                                                                         : PortOpen::Failed;
    return outcome;
}

OpenOutcome TestOpenPort(const std::string& port, DWORD limitMs, bool& returned) {
    // The worker's own: it may outlive this call inside a driver.
    const auto outcome = std::make_shared<OpenOutcome>(OpenOutcome{PortOpen::NoAnswer, 0});
    const std::wstring path = std::wstring(L"\\\\.\\") + taktor::Wide(taktor::TextFromUtf8(port));
    taktor::Worker worker;
    if (!worker.Start([outcome, path] { *outcome = OpenPortOnce(path); })) {
        return OpenOutcome{};
    }
    returned = worker.WaitFor(std::chrono::milliseconds(limitMs));
    return returned ? *outcome : OpenOutcome{PortOpen::NoAnswer, 0};
}

// Where the cable report goes and how it is shown: the file beside the tool (or in the
// temporary folder), Notepad, and a message box when Notepad cannot start.
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

}  // namespace
}  // namespace kanalyst

namespace {

// A healthy system lists its devices in well under a second; a hung driver must not hang the
// configurator, which waits for this tool without a limit.
constexpr DWORD kEnumerationLimitMs = 10000;
// The test open of the configurator's port, including its one retry.
constexpr DWORD kOpenLimitMs = 5000;

std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int k = 1; words != nullptr && k < count; ++k) {
        arguments.push_back(kanalyst::Utf8FromWide(words[k]));
    }
    LocalFree(words);
    return arguments;
}

// Windows 7 is 6.1; RtlGetVersion tells it whatever manifest a program has.
bool RunsOnWindows7() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return getVersion != nullptr && getVersion(&version) == 0 && version.dwMajorVersion == 6 &&
           version.dwMinorVersion == 1;
}

// Ends the process with code; at once when a worker may be stuck inside a driver holding a
// loader or heap lock that an orderly exit would wait for. What was found is on disk by then.
int Finish(UINT code, bool workerLeft) {
    if (workerLeft) {
        TerminateProcess(GetCurrentProcess(), code);
    }
    return static_cast<int>(code);
}

int WriteList() {
    kanalyst::DeviceCollection found =
        kanalyst::CollectDevicesWithin(kanalyst::EnumerateSerialPorts, kEnumerationLimitMs);
    const bool written =
        kanalyst::WriteListFile(kanalyst::ExecutableDirectory(),
                                kanalyst::FormatPortList(kanalyst::ListedPorts(found.devices)));
    return Finish(!written ? 1 : found.complete ? 0 : 2, !found.complete);
}

int WriteReport(bool showWindow) {
    // Asked first, as the list run would meet it: before the report turns file virtualization
    // off for itself, under which a 32-bit list run writes where the 32-bit configurator reads.
    const std::wstring folder = kanalyst::ExecutableDirectory();
    const bool folderTakesFiles = kanalyst::CanCreateFileIn(folder);
    kanalyst::DeviceCollection found =
        kanalyst::CollectDevicesWithin(kanalyst::EnumerateAdapters, kEnumerationLimitMs);
    kanalyst::MachineFacts& machine = found.machine;
    machine.windows7 = RunsOnWindows7();
    if (!folderTakesFiles) {
        machine.refusingFolder = kanalyst::Utf8FromWide(folder.c_str());
    }
    bool openReturned = true;
    const kanalyst::Diagnosis diagnosis =
        kanalyst::Diagnose(found.devices, machine, [&openReturned](const std::string& port) {
            return kanalyst::TestOpenPort(port, kOpenLimitMs, openReturned);
        });
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::string text = kanalyst::FormatReport(found.devices, diagnosis,
                                                    {kanalyst::LocalTimeOf(now), found.complete});
    const std::wstring path = kanalyst::WriteReportFile(kanalyst::ReportFileBytes(text));
    if (showWindow && (path.empty() || !kanalyst::ShowInNotepad(path))) {
        kanalyst::ShowSummaryBox(kanalyst::ReportSummary(diagnosis), path);
    }
    return Finish(path.empty() ? 1 : found.complete ? 0 : 2, !found.complete || !openReturned);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    taktor::RestrictDllSearch();
    // No "insert a disk" or similar box may stop a tool that nobody watches.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    const kanalyst::ToolMode mode = kanalyst::ChooseMode(Arguments());
    return mode == kanalyst::ToolMode::List ? WriteList()
                                            : WriteReport(mode == kanalyst::ToolMode::Report);
}
