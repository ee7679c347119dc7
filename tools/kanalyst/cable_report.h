// The cable report: the USB-serial adapters seen, what the configurator will take at its next
// write, a verdict and one next step, as the text of "Отчёт о шнуре.txt".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/kanalyst/device_record.h"

namespace kanalyst {

// The report's file name; it goes beside the tool, or into the temporary folder.
inline constexpr char16_t kReportName[] = u"Отчёт о шнуре.txt";

// At most this many adapters that are not connected are described, the newest first.
inline constexpr std::size_t kRememberedShown = 5;

enum class Verdict {
    // The configurator will take a port; the verdict follows its device.
    Works,            // the port opens and is free
    Busy,             // another program holds it
    PickedBroken,     // its driver reports a problem, or the port does not open
    PickedUnchecked,  // not a USB port, so not opened
    NoPermission,     // under Wine: Linux does not let the user open the port's terminal
    // The configurator will take nothing; the first that applies.
    CableNotWorking,  // a known cable is connected, but without a working driver or port
    NoComLink,        // under Wine: a known cable has a Linux terminal, but no COM port leads there
    NoKernelDriver,   // under Wine: a known cable is connected, but Linux made no terminal for it
    WrongAdapter,     // a USB-serial adapter of another type is connected
    UnidentifiedUsb,  // a USB device Windows could not identify
    OnlyRemembered,   // a known cable was connected before, but is not now
    NothingFound,
};

struct Diagnosis {
    Verdict verdict = Verdict::NothingFound;
    std::optional<std::size_t> subject;  // index of the device the verdict speaks of
    int connectedCables = 0;             // known cables connected (or not known to be absent)
    std::string list;                    // listport.txt as the tool writes it
    std::string takenPort;               // the configurator's scan of that list; empty: none
    std::vector<std::size_t> shown;      // adapters to describe, connected ones first
    std::size_t rememberedLeftOut = 0;   // adapters not connected beyond kRememberedShown
};

// The list is made by the code that writes listport.txt and read by the configurator's own
// scan, so that "КОНФИГУРАТОР ВОЗЬМЁТ" matches what it will do. The verdict on the port the
// configurator takes reads the outcome of its test open.
Diagnosis Diagnose(const std::vector<DeviceRecord>& devices);

// The one device whose port the report test-opens: the one the configurator would take, when
// it sits on USB. Most USB-serial drivers raise DTR and RTS on open and drop them on close,
// which resets a board with DTR auto-reset (a 3D printer, a CNC machine, another controller) in
// the middle of its work, so no other port is touched.
std::optional<std::size_t> PortToTestOpen(const std::vector<DeviceRecord>& devices);

struct ReportContext {
    LocalTime madeAt;
    bool complete = true;  // false: the enumeration ran out of time
};

// The report as UTF-8 lines, each ending in LF.
std::string FormatReport(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis,
                         const ReportContext& context);

// The verdict and the next step as two lines ("ИТОГ: ...", "ЧТО СДЕЛАТЬ: ..."), for a message
// box when Notepad cannot show the report.
std::string ReportSummary(const std::vector<DeviceRecord>& devices, const Diagnosis& diagnosis);

// The file as every Notepad shows it right: a UTF-8 byte-order mark and CR LF line ends.
std::string ReportFileBytes(const std::string& text);

// "14.03.2025 10:22".
std::string FormatLocalTime(const LocalTime& time);

}  // namespace kanalyst
