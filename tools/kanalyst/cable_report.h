// The cable report: from the device records, one verdict that carries the facts it speaks of;
// from the verdict, the words of "Отчёт о шнуре.txt".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/kanalyst/device_record.h"

namespace kanalyst {

// The report's file name; it goes beside the tool, or into the temporary folder.
inline constexpr char16_t kReportName[] = u"Отчёт о шнуре.txt";

// At most this many adapters that are not connected are described, the newest first.
inline constexpr std::size_t kRememberedShown = 5;

// The outcome of opening a port once, as a program would.
enum class PortOpen {
    NotTried,  // not the port the configurator would take, or not on USB
    Free,      // it opened, so no other program holds it
    Busy,      // access denied, also after a second try: another program holds it
    Missing,   // no such port in the system
    Failed,    // another error, given with it
    NoAnswer,  // the open did not return within the time limit
};

struct OpenOutcome {
    PortOpen result = PortOpen::NotTried;
    std::uint32_t error = 0;
};

// Opens a port ("COM5") once and closes it again.
using OpenPort = std::function<OpenOutcome(const std::string& port)>;

// What the report knows of the machine besides its devices.
struct MachineFacts {
    bool underWine = false;
    bool windows7 = false;       // which cannot check a driver signed with SHA-2 only by itself
    std::string refusingFolder;  // the tool's folder, when it refuses a new file there
    // Under Wine: whether the Linux side could be read at all, whether the COM ports' links were
    // inferred rather than read, whether the user is in group dialout, and the application id
    // of the Flatpak that Wine runs in.
    bool linuxRead = true;
    bool linksInferred = false;
    bool inDialout = false;
    std::string flatpakId;
};

enum class Verdict {
    // No list can be written: the tool's folder refuses new files.
    FolderRefuses,
    // The configurator will take a port; the verdict follows its device.
    Works,            // the port opens and is free
    Busy,             // another program holds it
    PickedBroken,     // its driver reports a problem, or the port does not open
    PickedUnchecked,  // not a USB port, so not opened
    NoPermission,     // under Wine: Linux does not let the user open the port's terminal
    Confined,         // under Wine: the same, though the user is in dialout: a confined Wine
    // The configurator will take nothing; the first that applies.
    CableNotWorking,  // a known cable is connected, but without a working driver or port
    NoDeviceNode,     // under Wine: Linux has the cable's terminal, but this Wine sees no node
    NoComLink,        // under Wine: a known cable has a Linux terminal, but no COM port leads there
    NoKernelDriver,   // under Wine: a known cable is connected, but Linux made no terminal for it
    WrongAdapter,     // a removable USB-serial adapter of another known type is connected
    UnidentifiedUsb,  // a USB device Windows could not identify
    OnlyRemembered,   // a known cable was connected before, but is not now
    LinuxUnread,      // under Wine: the Linux side could not be read at all
    NothingFound,
};

// Why a cable does not work, as a verdict states it.
enum class Trouble {
    None,
    Driver,    // its driver reports a problem (driver, problem)
    Open,      // its port does not open (open)
    Unlisted,  // it has a port that does not go into the list
    NoPort,    // it has no COM port
};

// The verdict with the facts its words need, decided once by Diagnose.
struct Finding {
    Verdict verdict = Verdict::NothingFound;
    std::optional<std::size_t> device;  // index of the device it speaks of
    std::string chip;                   // "CH340", "Prolific PL2303GT"
    std::string port;                   // the device's COM port; for PickedUnchecked the taken one
    Cable cable = Cable::Unknown;       // whose driver or kernel module the steps name
    UsbId usb;
    Trouble trouble = Trouble::None;
    DriverState driver = DriverState::Working;
    std::optional<std::uint32_t> problem;  // the problem code to name with driver
    OpenOutcome open;                      // the test open of port
    std::string node;                      // the Linux terminal: "/dev/ttyUSB0"
    std::string linkCommand;               // the command that gives the terminal a COM port
    std::string kernelDriver;              // what took the USB device instead of a terminal
    std::optional<LocalTime> lastSeen;
};

struct Diagnosis {
    Finding finding;
    MachineFacts machine;
    int connectedCables = 0;            // known cables connected (or not known to be absent)
    std::string list;                   // listport.txt as the tool writes it
    std::string takenPort;              // the configurator's scan of that list; empty: none
    std::vector<std::size_t> shown;     // adapters to describe, connected ones first
    std::size_t rememberedLeftOut = 0;  // adapters not connected beyond kRememberedShown
};

// The list is made by the code that writes listport.txt and read by the configurator's own
// scan, so that "КОНФИГУРАТОР ВОЗЬМЁТ" matches what it will do; nothing when the tool's folder
// refuses the list. Only the port the configurator
// would take is opened, and only when it sits on USB: most USB-serial drivers raise DTR and RTS
// on open and drop them on close, which resets a board with DTR auto-reset (a 3D printer, a CNC
// machine, another controller) in the middle of its work.
Diagnosis Diagnose(const std::vector<DeviceRecord>& devices, const MachineFacts& machine,
                   const OpenPort& open);

struct ReportContext {
    LocalTime madeAt;
    bool complete = true;  // false: the enumeration ran out of time
};

// The report as UTF-8 lines, each ending in LF.
std::string FormatReport(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis,
                         const ReportContext& context);

// The verdict and the next step as two lines ("ИТОГ: ...", "ЧТО СДЕЛАТЬ: ..."), for a message
// box when Notepad cannot show the report.
std::string ReportSummary(const Diagnosis& diagnosis);

// The file as every Notepad shows it right: a UTF-8 byte-order mark and CR LF line ends.
std::string ReportFileBytes(const std::string& text);

// "14.03.2025 10:22".
std::string FormatLocalTime(const LocalTime& time);

}  // namespace kanalyst
