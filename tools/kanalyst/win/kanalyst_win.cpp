// Kanalyst.exe: lists the serial ports present into listport.txt beside itself and ends. It
// takes no arguments, opens no window and always ends within a bounded time.
//
// Exit codes: 0 list written, 1 list could not be written, 2 the enumeration did not finish in
// time and the list holds the ports found until then.

#include <windows.h>

#include <utility>

#include "tools/kanalyst/port_list.h"
#include "tools/kanalyst/win/list_file_win.h"
#include "tools/kanalyst/win/serial_ports_win.h"

namespace {

// A healthy system lists its ports in well under a second; a hung driver must not hang the
// configurator, which waits for this tool without a limit.
constexpr DWORD kEnumerationLimitMs = 10000;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // No "insert a disk" or similar box may stop a tool that nobody watches.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    kanalyst::PortCollection found =
        kanalyst::CollectPortsWithin(kanalyst::EnumerateSerialPorts, kEnumerationLimitMs);
    const bool written = kanalyst::WriteListFile(kanalyst::ExecutableDirectory(),
                                                 kanalyst::FormatPortList(std::move(found.ports)));
    const UINT code = !written ? 1 : found.complete ? 0 : 2;
    if (!found.complete) {
        // The worker may be stuck inside a driver holding a loader or heap lock that an orderly
        // exit would wait for; the list is on disk, so end at once.
        TerminateProcess(GetCurrentProcess(), code);
    }
    return static_cast<int>(code);
}
