// Kanalyst.exe: lists the serial ports present into listport.txt beside itself and ends; with
// /report it writes the cable report instead and shows it. It always ends within a bounded time.
//
// Exit codes: 0 file written, 1 file could not be written, 2 the enumeration did not finish in
// time and the file holds what was found until then.

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/win/dll_search_win.h"
#include "common/win/wide.h"
#include "tools/kanalyst/cable_report.h"
#include "tools/kanalyst/port_list.h"
#include "tools/kanalyst/tool_mode.h"
#include "tools/kanalyst/win/list_file_win.h"
#include "tools/kanalyst/win/port_probe_win.h"
#include "tools/kanalyst/win/report_win.h"
#include "tools/kanalyst/win/serial_ports_win.h"

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
    if (words == nullptr) {
        return arguments;
    }
    for (int k = 1; k < count; ++k) {
        arguments.push_back(taktor::Utf8FromText(taktor::FromWide(words[k])));
    }
    LocalFree(words);
    return arguments;
}

kanalyst::LocalTime LocalNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return kanalyst::LocalTimeOf(now);
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
    kanalyst::DeviceCollection found =
        kanalyst::CollectDevicesWithin(kanalyst::EnumerateAdapters, kEnumerationLimitMs);
    bool openReturned = true;
    const kanalyst::Diagnosis diagnosis =
        kanalyst::Diagnose(found.devices, [&openReturned](const std::string& port) {
            return kanalyst::TestOpenPort(port, kOpenLimitMs, openReturned);
        });
    const std::string text =
        kanalyst::FormatReport(found.devices, diagnosis, {LocalNow(), found.complete});
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

    switch (kanalyst::ChooseMode(Arguments())) {
        case kanalyst::ToolMode::Report:
            return WriteReport(true);
        case kanalyst::ToolMode::ReportNoWindow:
            return WriteReport(false);
        case kanalyst::ToolMode::List:
            break;
    }
    return WriteList();
}
