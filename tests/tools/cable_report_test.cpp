// The cable report's diagnosis over device records: how readings resolve, the driver state, the
// verdict and its priority, the machines met in the field, and whole report texts.
#include "tools/kanalyst/cable_report.h"
#include "tools/kanalyst/tool_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kanalyst {
namespace {

constexpr LocalTime kMarch14At1022{2025, 3, 14, 10, 22};
constexpr LocalTime kMarch14At0905{2025, 3, 14, 9, 5};
constexpr LocalTime kMarch2At1640{2025, 3, 2, 16, 40};
constexpr LocalTime kNovember20At0815{2024, 11, 20, 8, 15};

// A connected USB-serial port that works, as Windows describes it.
DeviceRecord UsbPort(const std::string& instanceId, UsbId usb, std::uint16_t revision,
                     const std::string& description, const std::string& service,
                     const std::string& port) {
    DeviceRecord device;
    device.instanceId = instanceId;
    device.description = description;
    device.usb = usb;
    device.revision = revision;
    device.setupClass = "Ports";
    device.service = service;
    device.port = port;
    device.removable = true;
    device.problemProperty = 0;
    device.presentProperty = true;
    return device;
}

DeviceRecord Ch340(const std::string& port) {
    return UsbPort("USB\\VID_1A86&PID_7523\\5&2B3C7D0&0&" + port, {0x1a86, 0x7523}, 0x0264,
                   "USB-SERIAL CH340", "CH341SER_A64", port);
}

DeviceRecord Pl2303(const std::string& port) {
    return UsbPort("USB\\VID_067B&PID_2303\\6&1A2B3C&0&" + port, {0x067b, 0x2303}, 0x0300,
                   "Prolific USB-to-Serial Comm Port", "Ser2pl64", port);
}

// A CH340 under "Other devices": no driver, so no class, service or port.
DeviceRecord Ch340WithoutDriver() {
    DeviceRecord device;
    device.instanceId = "USB\\VID_1A86&PID_7523\\5&2B3C7D0&0&3";
    device.description = "USB Serial";
    device.usb = UsbId{0x1a86, 0x7523};
    device.revision = 0x0264;
    device.problemProperty = 28;
    device.presentProperty = true;
    return device;
}

// A CH340 found on Linux under Wine: its terminal, and the COM port leading to it, if any; with
// no terminal when driver is given (the driver that took the device instead, "" for none).
DeviceRecord LinuxCh340(const std::string& port, std::optional<std::string> driver = std::nullopt) {
    DeviceRecord device = Ch340(port);
    device.service = driver.value_or("ch341-uart");
    device.terminal =
        LinuxTerminal{driver ? "" : "/dev/ttyUSB0",
                      port.empty() ? "ln -s /dev/ttyUSB0 ~/.wine/dosdevices/com33" : ""};
    return device;
}

DeviceRecord RefusedPl2303(const std::string& port) {
    DeviceRecord device = Pl2303(port);
    device.description = "PL2303HXA PHASED OUT SINCE 2012. PLEASE CONTACT YOUR SUPPLIER.";
    device.problemProperty = 10;
    device.driverVersion = "3.9.6.2";
    return device;
}

DeviceRecord Ft232rBus() {
    DeviceRecord device;
    device.instanceId = "USB\\VID_0403&PID_6001\\A50285BI";
    device.description = "USB Serial Converter";
    device.usb = UsbId{0x0403, 0x6001};
    device.setupClass = "USB";
    device.service = "FTDIBUS";
    device.problemProperty = 0;
    device.presentProperty = true;
    return device;
}

DeviceRecord Ft232rPort(const std::string& port) {
    return UsbPort("FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", {0x0403, 0x6001}, 0x0600,
                   "USB Serial Port", "FTSER2K", port);
}

DeviceRecord DescriptorFailure() {
    DeviceRecord device;
    device.instanceId = "USB\\VID_0000&PID_0002\\5&3753427A&0&4";
    device.description = "Unknown USB Device (Device Descriptor Request Failed)";
    device.usb = UsbId{0, 2};
    device.setupClass = "USB";
    device.problemProperty = 43;
    device.presentProperty = true;
    return device;
}

DeviceRecord BuiltInPort() {
    DeviceRecord device;
    device.instanceId = "ACPI\\PNP0501\\1";
    device.description = "Communications Port";
    device.setupClass = "Ports";
    device.service = "Serial";
    device.port = "COM1";
    device.problemProperty = 0;
    device.presentProperty = true;
    return device;
}

DeviceRecord Remembered(DeviceRecord device, LocalTime removed) {
    device.presentProperty = false;
    device.problemProperty.reset();
    device.lastRemoval = removed;
    --removed.hour;
    device.lastArrival = removed;
    return device;
}

DeviceRecord WithProblem(DeviceRecord device, std::uint32_t code) {
    device.problemProperty = code;
    return device;
}

// Machines met in the field.

// A rugged laptop: a GPS receiver and a modem's NMEA port built in, the cable unplugged.
std::vector<DeviceRecord> RuggedLaptop() {
    DeviceRecord gps = UsbPort("USB\\VID_1546&PID_01A7\\5&1F2E3D4&0&7", {0x1546, 0x01a7}, 0x0100,
                               "u-blox 7 - GPS/GNSS Receiver", "usbser", "COM3");
    DeviceRecord nmea = UsbPort("USB\\VID_1199&PID_9079&MI_02\\6&2A8C1B0&0&0002", {0x1199, 0x9079},
                                0x0006, "Sierra Wireless NMEA Port", "usbser", "COM4");
    gps.removable = nmea.removable = false;
    return {BuiltInPort(), gps, nmea, Remembered(Ch340("COM5"), kMarch2At1640)};
}

// Windows 7: no presence or dates, the problem code from the node status. The cable is in but
// disabled; another one was plugged in once.
std::vector<DeviceRecord> Windows7Laptop() {
    std::vector<DeviceRecord> devices = {Pl2303("COM3"), Ch340("COM5")};
    for (DeviceRecord& device : devices) {
        device.problemProperty.reset();
        device.presentProperty.reset();
    }
    devices[0].node = {0, 0x01802400, 22};  // DN_HAS_PROBLEM, not DN_STARTED
    devices[1].node = {0x0D, NodeStatus::kNotWritten, NodeStatus::kNotWritten};
    return devices;
}

// Windows 11 with a PL2303HXD that the current Prolific driver refuses: only the friendly name
// says so, besides code 10.
std::vector<DeviceRecord> Windows11RefusedHxd() {
    DeviceRecord hxd = WithProblem(Pl2303("COM4"), 10);
    hxd.revision = 0x0400;
    hxd.friendlyName =
        "PLEASE INSTALL CORRESPONDING PL2303 DRIVER TO SUPPORT WINDOWS 11 AND FURTHER OS. (COM4)";
    return {hxd};
}

// A Bluetooth serial port beside a working cable.
std::vector<DeviceRecord> BluetoothLaptop() {
    DeviceRecord bluetooth = BuiltInPort();
    bluetooth.instanceId = "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1A";
    bluetooth.description = "Standard Serial over Bluetooth link";
    bluetooth.service = "BTHMODEM";
    bluetooth.port = "COM6";
    return {bluetooth, Ch340("COM5")};
}

std::vector<DeviceRecord> TwoCables() {
    return {Ch340("COM5"), Pl2303("COM7")};
}

// Diagnose with a test open that gives outcome and notes the port it was asked to open.
Diagnosis DiagnoseOpening(const std::vector<DeviceRecord>& devices, PortOpen outcome,
                          std::string* opened = nullptr, const MachineFacts& machine = {}) {
    return Diagnose(devices, machine, [&](const std::string& port) {
        if (opened != nullptr) {
            *opened += port;
        }
        return OpenOutcome{outcome, outcome == PortOpen::Failed ? 31u : 0u};
    });
}

TEST(DeviceReadings, ResolveThroughTheirFallbacks) {
    const NodeStatus started{0, 0x0180200A, 0};      // CR_SUCCESS, DN_STARTED and others
    const NodeStatus hasProblem{0, 0x01802400, 22};  // DN_HAS_PROBLEM, code 22
    const NodeStatus stub{0, NodeStatus::kNotWritten, NodeStatus::kNotWritten};  // success, unset
    const NodeStatus noNode{0x0D, NodeStatus::kNotWritten, NodeStatus::kNotWritten};
    using Code = std::optional<std::uint32_t>;
    using Presence = std::optional<bool>;
    struct Row {
        const char* name;
        Code problemProperty;
        Presence presentProperty;
        NodeStatus node;
        Code configFlags;
        Code problem;
        Presence connected;
        bool listed;
    };
    const Row rows[] = {
        {"a problem while started stays listed", 10, true, started, 0, 10, true, true},
        {"a problem, no node status", 22, true, stub, {}, 22, true, false},
        {"node without problem", {}, {}, started, {}, 0, true, true},
        {"node with a problem", {}, {}, hasProblem, {}, 22, true, false},
        {"stub that answers and writes nothing", {}, {}, stub, {}, {}, {}, true},
        {"no node: not connected", {}, {}, noNode, {}, {}, false, false},
        {"code 45 means not connected", 45, {}, stub, {}, 45, false, false},
        {"presence property over a missing node", 0, true, noNode, {}, 0, true, true},
        {"absent by property", 0, false, started, {}, 0, false, false},
        {"a stale disabled flag hides nothing", {}, {}, stub, 0x01, 22, {}, true},
        {"failed installation in the config flags", {}, {}, noNode, 0x40, 28, false, false},
        {"config flags without a problem", {}, {}, stub, 0x00, {}, {}, true},
        {"nothing readable at all", {}, {}, NodeStatus{}, {}, {}, {}, true},
    };
    for (const Row& row : rows) {
        DeviceRecord device = Ch340("COM5");
        device.problemProperty = row.problemProperty;
        device.presentProperty = row.presentProperty;
        device.node = row.node;
        device.configFlags = row.configFlags;
        EXPECT_EQ(ProblemCode(device), row.problem) << row.name;
        EXPECT_EQ(IsConnected(device), row.connected) << row.name;
        EXPECT_EQ(IsListed(device), row.listed) << row.name;
    }
    // Only Ports-class devices with a port name that is not a printer port are listed.
    DeviceRecord printer = BuiltInPort();
    printer.port = "LPT1";
    DeviceRecord usbClass = Ch340("COM5");
    usbClass.setupClass = "USB";
    DeviceRecord unnamed = Ch340(" \n");
    for (const DeviceRecord& device : {printer, usbClass, unnamed, Ch340WithoutDriver()}) {
        EXPECT_FALSE(IsListed(device)) << device.instanceId << " " << device.port;
    }
}

TEST(StateOfDriver, FollowsClassServiceAndProblemCode) {
    const std::string refusal = "PL2303HXA PHASED OUT SINCE 2012. PLEASE CONTACT YOUR SUPPLIER.";
    DeviceRecord withoutStatus = Ch340("COM5");
    withoutStatus.problemProperty.reset();
    DeviceRecord otherDevice = Ch340WithoutDriver();
    otherDevice.problemProperty.reset();
    DeviceRecord refused = WithProblem(Pl2303("COM3"), 10);
    refused.description = refusal;
    DeviceRecord refusedByProduct = WithProblem(Pl2303("COM3"), 10);
    refusedByProduct.busDescription = "this is not Prolific PL2303";
    DeviceRecord refusedByName = Pl2303("COM3");  // code 0, but the port will not open
    refusedByName.friendlyName = "PLEASE INSTALL CORRESPONDING PL2303 DRIVER (COM3)";
    DeviceRecord ch340WithPhrase = WithProblem(Ch340("COM5"), 10);
    ch340WithPhrase.description = refusal;
    struct Row {
        DeviceRecord device;
        DriverState state;
    };
    const Row rows[] = {
        {Ch340("COM5"), DriverState::Working},
        {Ch340WithoutDriver(), DriverState::NoDriver},
        {WithProblem(Ch340WithoutDriver(), 1), DriverState::NoDriver},
        {otherDevice, DriverState::NoDriver},  // no class, no service, no status
        {withoutStatus, DriverState::Unread},
        {refused, DriverState::ProlificRefused},
        {refusedByProduct, DriverState::ProlificRefused},
        {refusedByName, DriverState::ProlificRefused},
        {WithProblem(Pl2303("COM3"), 10), DriverState::StartFailed},
        {ch340WithPhrase, DriverState::StartFailed},  // the phrase counts for Prolific only
        {WithProblem(Ch340("COM5"), 22), DriverState::Disabled},
        {DescriptorFailure(), DriverState::DeviceFailed},
        {WithProblem(Ch340("COM5"), 14), DriverState::NeedsRestart},
        {WithProblem(Pl2303("COM3"), 52), DriverState::Unsigned},
        {WithProblem(Pl2303("COM3"), 31), DriverState::OtherProblem},
        {Remembered(Ch340("COM5"), kMarch2At1640), DriverState::Absent},
        {WithProblem(Remembered(Ch340("COM5"), kMarch2At1640), 0), DriverState::Absent},
        {WithProblem(Ch340("COM5"), 45), DriverState::Absent},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StateOfDriver(row.device), row.state)
            << row.device.instanceId << " " << row.device.description;
    }
}

TEST(Diagnose, VerdictFollowsTheTakenPortThenThePriorityOrder) {
    struct Row {
        const char* name;
        std::vector<DeviceRecord> devices;
        Verdict verdict;
        const char* subjectPort;  // the port of the device the verdict is about; "" for none
        const char* takenPort;
        int cables;
        PortOpen open = PortOpen::Free;  // what the test open of the taken port gives
        MachineFacts machine = {};
    };
    DeviceRecord notUsb = BuiltInPort();
    notUsb.description = "Prolific USB-to-Serial Comm Port";
    notUsb.port = "COM2";
    DeviceRecord hxdStarted = Windows11RefusedHxd()[0];  // code 0: listed, but it will not open
    hxdStarted.problemProperty = 0;
    DeviceRecord builtInFtdi = Ft232rPort("COM3");  // behind the laptop's DB-9 port
    builtInFtdi.removable = false;
    MachineFacts unread;
    unread.underWine = true;
    unread.linuxRead = false;
    const Row rows[] = {
        {"rugged laptop, cable unplugged", RuggedLaptop(), Verdict::OnlyRemembered, "COM5", "", 0},
        {"Windows 7, cable disabled", Windows7Laptop(), Verdict::CableNotWorking, "COM3", "", 1},
        {"Windows 11, HXD refused", Windows11RefusedHxd(), Verdict::CableNotWorking, "COM4", "", 1},
        {"refused HXD left started",
         {hxdStarted},
         Verdict::PickedBroken,
         "COM4",
         "COM4",
         1,
         PortOpen::Failed},
        {"Bluetooth ports beside the cable", BluetoothLaptop(), Verdict::Works, "COM5", "COM5", 1},
        {"two cables", TwoCables(), Verdict::Busy, "COM7", "COM7", 2, PortOpen::Busy},
        {"works", {BuiltInPort(), Ch340("COM5")}, Verdict::Works, "COM5", "COM5", 1},
        {"busy", {Pl2303("COM3")}, Verdict::Busy, "COM3", "COM3", 1, PortOpen::Busy},
        {"taken cable broken, the other works",
         {Pl2303("COM3"), Ch340("COM9")},
         Verdict::PickedBroken,
         "COM9",
         "COM9",
         2,
         PortOpen::Missing},
        {"taken port hangs",
         {Ch340("COM5")},
         Verdict::PickedBroken,
         "COM5",
         "COM5",
         1,
         PortOpen::NoAnswer},
        {"two cables, the refused one left out",
         {Ch340("COM5"), RefusedPl2303("COM7")},
         Verdict::Works,
         "COM5",
         "COM5",
         2},
        {"a port named like a cable, not on USB",
         {notUsb},
         Verdict::PickedUnchecked,
         "",
         "COM2",
         0},
        {"cable without driver before a foreign adapter",
         {Ft232rBus(), Ft232rPort("COM6"), Ch340WithoutDriver()},
         Verdict::CableNotWorking,
         "",
         "",
         1},
        {"refused cable", {RefusedPl2303("COM7")}, Verdict::CableNotWorking, "COM7", "", 1},
        {"only a foreign adapter",
         {Ft232rBus(), Ft232rPort("COM6")},
         Verdict::WrongAdapter,
         "COM6",
         "",
         0},
        {"foreign adapter before a code 43 device",
         {DescriptorFailure(), Ft232rPort("COM6")},
         Verdict::WrongAdapter,
         "COM6",
         "",
         0},
        {"code 43 before a remembered cable",
         {Remembered(Ch340("COM5"), kMarch2At1640), DescriptorFailure()},
         Verdict::UnidentifiedUsb,
         "",
         "",
         0},
        {"only remembered cables, the newest first",
         {Remembered(Pl2303("COM3"), kNovember20At0815), Remembered(Ch340("COM5"), kMarch2At1640),
          BuiltInPort()},
         Verdict::OnlyRemembered,
         "COM5",
         "",
         0},
        {"nothing at all", {BuiltInPort()}, Verdict::NothingFound, "", "", 0},
        {"Wine: the terminal refuses the user",
         {LinuxCh340("COM33")},
         Verdict::NoPermission,
         "COM33",
         "COM33",
         1,
         PortOpen::Busy},
        {"Wine: no port leads to the terminal", {LinuxCh340("")}, Verdict::NoComLink, "", "", 1},
        {"Wine: no terminal", {LinuxCh340("", "")}, Verdict::NoKernelDriver, "", "", 1},
        {"a built-in chip alone", {builtInFtdi}, Verdict::NothingFound, "", "", 0},
        {"Wine: Linux unread", {}, Verdict::LinuxUnread, "", "", 0, PortOpen::Free, unread},
    };
    for (const Row& row : rows) {
        std::string opened;
        const Diagnosis diagnosis = DiagnoseOpening(row.devices, row.open, &opened, row.machine);
        EXPECT_EQ(diagnosis.finding.verdict, row.verdict) << row.name;
        const std::optional<std::size_t> subject = diagnosis.finding.device;
        EXPECT_EQ(subject ? row.devices[*subject].port : "", row.subjectPort) << row.name;
        EXPECT_EQ(diagnosis.takenPort, row.takenPort) << row.name;
        EXPECT_EQ(diagnosis.connectedCables, row.cables) << row.name;
        // Only the port the configurator takes is opened, and only when it sits on USB.
        EXPECT_EQ(opened, row.verdict == Verdict::PickedUnchecked ? "" : row.takenPort) << row.name;
    }
}

TEST(Diagnose, ShowsEachAdapterOnceAndAtMostFiveRemembered) {
    std::vector<DeviceRecord> devices = {Ft232rBus(), Ft232rPort("COM6"), BuiltInPort()};
    for (int k = 0; k < 7; ++k) {
        LocalTime removed = kNovember20At0815;
        removed.minute += k;
        devices.push_back(Remembered(Ch340("COM" + std::to_string(10 + k)), removed));
    }
    const Diagnosis diagnosis = DiagnoseOpening(devices, PortOpen::Free);
    std::vector<std::string> ports;
    for (const std::size_t k : diagnosis.shown) {
        ports.push_back(devices[k].port);
    }
    EXPECT_EQ(ports,
              (std::vector<std::string>{"COM6", "COM16", "COM15", "COM14", "COM13", "COM12"}));
    EXPECT_EQ(diagnosis.rememberedLeftOut, 2u);
}

// Each verdict's two lines name the facts it carries: the chip and port, the code, the command.
TEST(CableReport, VerdictLinesCarryTheirFacts) {
    struct Row {
        std::vector<DeviceRecord> devices;
        PortOpen open;
        std::vector<const char*> words;  // each in the ИТОГ or ЧТО СДЕЛАТЬ line
        MachineFacts machine = {};
    };
    MachineFacts windows7;
    windows7.windows7 = true;
    const Row rows[] = {
        {TwoCables(), PortOpen::Busy, {"Prolific PL2303 на COM7", "(2)", "возьмёт COM7"}},
        {{Ch340("COM9")}, PortOpen::Failed, {"CH340 на COM9", "(ошибка 31)"}},
        {Windows11RefusedHxd(), PortOpen::Free, {"(код 10)", "3.3.2.102"}},
        {{Remembered(Ch340("COM5"), kMarch2At1640)}, PortOpen::Free, {"02.03.2025 16:40"}},
        {{LinuxCh340("COM33")},
         PortOpen::Busy,
         {"/dev/ttyUSB0", "«sudo usermod -aG dialout $USER»"}},
        {{LinuxCh340("")}, PortOpen::Free, {"«ln -s /dev/ttyUSB0 ~/.wine/dosdevices/com33»"}},
        {{LinuxCh340("", "")}, PortOpen::Free, {"«sudo modprobe ch341»"}},
        {{LinuxCh340("", "usbfs")}, PortOpen::Free, {"usbfs", "«sudo apt remove brltty»"}},
        {{Ch340("COM5")}, PortOpen::Free, {"CH340 на COM5 работает: порт открывается и свободен."}},
        {{Ch340("COM5")}, PortOpen::Busy, {"ЧТО СДЕЛАТЬ: Выньте шнур и вставьте его снова"}},
        {{LinuxCh340("COM33")}, PortOpen::Failed, {"«wineserver -k»", "«sudo dmesg"}},
        {{WithProblem(Pl2303("COM3"), 52)}, PortOpen::Free, {"KB4474419", "KB3033929"}, windows7},
    };
    for (const Row& row : rows) {
        const std::string summary =
            ReportSummary(DiagnoseOpening(row.devices, row.open, nullptr, row.machine));
        EXPECT_EQ(summary.rfind("ИТОГ: ", 0), 0u) << summary;
        EXPECT_NE(summary.find("\nЧТО СДЕЛАТЬ: "), std::string::npos) << summary;
        for (const char* word : row.words) {
            EXPECT_NE(summary.find(word), std::string::npos) << word << " in " << summary;
        }
    }
}

// The whole report: the verdict first, each adapter once with the taken port's test open, and
// the list the configurator will read, as a file every Notepad shows right.
TEST(CableReport, WholeFileHoldsVerdictAdaptersAndList) {
    DeviceRecord refused = RefusedPl2303("COM7");
    refused.lastArrival = kMarch14At0905;
    const std::vector<DeviceRecord> devices = {BuiltInPort(), refused, Ch340("COM5")};
    const Diagnosis diagnosis = DiagnoseOpening(devices, PortOpen::Busy);
    const std::string text = FormatReport(devices, diagnosis, {kMarch14At1022, false});
    EXPECT_EQ(text.rfind("ОТЧЁТ О ШНУРЕ КОНТРОЛЛЕРА\nСоставлен 14.03.2025 10:22.\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("проверка его не дождалась"), std::string::npos);
    EXPECT_NE(text.find("\n\n" + ReportSummary(diagnosis) + "\nПЕРЕХОДНИКИ"), std::string::npos);
    EXPECT_NE(text.find("\n1. Prolific PL2303, вероятно PL2303HXA"), std::string::npos);
    EXPECT_NE(text.find("Подключён сейчас, с 14.03.2025 09:05\n"), std::string::npos);
    EXPECT_NE(text.find("COM7 — не открывался: конфигуратор его не возьмёт\n"), std::string::npos);
    EXPECT_NE(text.find("\n2. CH340\n"), std::string::npos);
    EXPECT_NE(text.find("COM5 — занят другой программой (доступ запрещён)\n"), std::string::npos);
    EXPECT_EQ(text.find("\n3. "), std::string::npos);  // the built-in port is no adapter
    const std::string end =
        "\nКОНФИГУРАТОР ВОЗЬМЁТ: COM5\nСписок портов, который Kanalyst запишет для конфигуратора "
        "в listport.txt:\n   COMMUNICATIONS PORT (COM1)\n   USB-SERIAL CH340 (COM5)\n";
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), end.size())), end);

    EXPECT_EQ(ReportFileBytes("x\ny\n"), "\xEF\xBB\xBFx\r\ny\r\n");
}

TEST(ChooseMode, ReportOnlyWhenAskedExactly) {
    struct Row {
        std::vector<std::string> arguments;
        ToolMode mode;
    };
    const Row rows[] = {
        {{}, ToolMode::List},
        {{"/report"}, ToolMode::Report},
        {{"-RePort"}, ToolMode::Report},
        {{"/report", "/nowindow"}, ToolMode::ReportNoWindow},
        {{"-NOWINDOW", "/Report"}, ToolMode::ReportNoWindow},
        {{"/nowindow"}, ToolMode::List},
        {{"report"}, ToolMode::List},
        {{"/report", "/verbose"}, ToolMode::List},
        {{"/reports"}, ToolMode::List},
        {{"/report", "/report"}, ToolMode::List},
        {{""}, ToolMode::List},
    };
    for (const Row& row : rows) {
        std::string joined;
        for (const std::string& argument : row.arguments) {
            joined += argument + " ";
        }
        EXPECT_EQ(ChooseMode(row.arguments), row.mode) << joined;
    }
}

}  // namespace
}  // namespace kanalyst
