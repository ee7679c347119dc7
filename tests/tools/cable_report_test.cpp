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
    device.problemProperty = 0;
    device.presentProperty = true;
    device.open = PortOpen::Free;
    return device;
}

DeviceRecord Ch340(const std::string& port, PortOpen open = PortOpen::Free) {
    DeviceRecord device = UsbPort("USB\\VID_1A86&PID_7523\\5&2B3C7D0&0&" + port, {0x1a86, 0x7523},
                                  0x0264, "USB-SERIAL CH340", "CH341SER_A64", port);
    device.open = open;
    return device;
}

DeviceRecord Pl2303(const std::string& port, PortOpen open = PortOpen::Free) {
    DeviceRecord device = UsbPort("USB\\VID_067B&PID_2303\\6&1A2B3C&0&" + port, {0x067b, 0x2303},
                                  0x0300, "Prolific USB-to-Serial Comm Port", "Ser2pl64", port);
    device.open = open;
    return device;
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
DeviceRecord LinuxCh340(const std::string& port, PortOpen open = PortOpen::Free,
                        std::optional<std::string> driver = std::nullopt) {
    DeviceRecord device = Ch340(port, open);
    device.service = driver.value_or("ch341-uart");
    device.terminal =
        LinuxTerminal{driver ? "" : "/dev/ttyUSB0",
                      port.empty() ? "ln -s /dev/ttyUSB0 ~/.wine/dosdevices/com33" : ""};
    return device;
}

DeviceRecord RefusedPl2303(const std::string& port) {
    DeviceRecord device = Pl2303(port, PortOpen::Missing);
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
    device.open = PortOpen::NotTried;
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
    std::vector<DeviceRecord> devices = {Pl2303("COM3", PortOpen::NotTried), Ch340("COM5")};
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
    DeviceRecord hxd = WithProblem(Pl2303("COM4", PortOpen::NotTried), 10);
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
    return {Ch340("COM5", PortOpen::NotTried), Pl2303("COM7", PortOpen::Busy)};
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
    };
    DeviceRecord notUsb = BuiltInPort();
    notUsb.description = "Prolific USB-to-Serial Comm Port";
    notUsb.port = "COM2";
    DeviceRecord hxdStarted = Windows11RefusedHxd()[0];  // code 0: listed, but it will not open
    hxdStarted.problemProperty = 0;
    hxdStarted.open = PortOpen::Failed;
    const Row rows[] = {
        {"rugged laptop, cable unplugged", RuggedLaptop(), Verdict::OnlyRemembered, "COM5", "", 0},
        {"Windows 7, cable disabled", Windows7Laptop(), Verdict::CableNotWorking, "COM3", "", 1},
        {"Windows 11, HXD refused", Windows11RefusedHxd(), Verdict::CableNotWorking, "COM4", "", 1},
        {"refused HXD left started", {hxdStarted}, Verdict::PickedBroken, "COM4", "COM4", 1},
        {"Bluetooth ports beside the cable", BluetoothLaptop(), Verdict::Works, "COM5", "COM5", 1},
        {"two cables", TwoCables(), Verdict::Busy, "COM7", "COM7", 2},
        {"works", {BuiltInPort(), Ch340("COM5")}, Verdict::Works, "COM5", "COM5", 1},
        {"busy", {Pl2303("COM3", PortOpen::Busy)}, Verdict::Busy, "COM3", "COM3", 1},
        {"taken cable broken, the other works",
         {Pl2303("COM3"), Ch340("COM9", PortOpen::Missing)},
         Verdict::PickedBroken,
         "COM9",
         "COM9",
         2},
        {"taken port hangs",
         {Ch340("COM5", PortOpen::NoAnswer)},
         Verdict::PickedBroken,
         "COM5",
         "COM5",
         1},
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
         {LinuxCh340("COM33", PortOpen::Busy)},
         Verdict::NoPermission,
         "COM33",
         "COM33",
         1},
        {"Wine: no port leads to the terminal", {LinuxCh340("")}, Verdict::NoComLink, "", "", 1},
        {"Wine: no terminal",
         {LinuxCh340("", PortOpen::NotTried, "")},
         Verdict::NoKernelDriver,
         "",
         "",
         1},
    };
    for (const Row& row : rows) {
        const Diagnosis diagnosis = Diagnose(row.devices);
        EXPECT_EQ(diagnosis.verdict, row.verdict) << row.name;
        EXPECT_EQ(diagnosis.subject ? row.devices[*diagnosis.subject].port : "", row.subjectPort)
            << row.name;
        EXPECT_EQ(diagnosis.takenPort, row.takenPort) << row.name;
        EXPECT_EQ(diagnosis.connectedCables, row.cables) << row.name;
        // Only the port the configurator takes is opened, and only when it sits on USB.
        const std::optional<std::size_t> opened = PortToTestOpen(row.devices);
        EXPECT_EQ(opened ? row.devices[*opened].port : "",
                  row.verdict == Verdict::PickedUnchecked ? "" : row.takenPort)
            << row.name;
    }
}

TEST(Diagnose, ShowsEachAdapterOnceAndAtMostFiveRemembered) {
    std::vector<DeviceRecord> devices = {Ft232rBus(), Ft232rPort("COM6"), BuiltInPort()};
    for (int k = 0; k < 7; ++k) {
        LocalTime removed = kNovember20At0815;
        removed.minute += k;
        devices.push_back(Remembered(Ch340("COM" + std::to_string(10 + k)), removed));
    }
    const Diagnosis diagnosis = Diagnose(devices);
    std::vector<std::string> ports;
    for (const std::size_t k : diagnosis.shown) {
        ports.push_back(devices[k].port);
    }
    EXPECT_EQ(ports,
              (std::vector<std::string>{"COM6", "COM16", "COM15", "COM14", "COM13", "COM12"}));
    EXPECT_EQ(diagnosis.rememberedLeftOut, 2u);
}

TEST(CableReport, WholeTextForACableWithoutDriver) {
    DeviceRecord remembered = Remembered(Pl2303("COM3"), kMarch2At1640);
    remembered.driverVersion = "3.3.2.102";
    remembered.lastArrival.reset();  // as on Windows 7
    remembered.lastRemoval.reset();
    const std::vector<DeviceRecord> devices = {BuiltInPort(), Ch340WithoutDriver(), remembered};
    const std::string text = FormatReport(devices, Diagnose(devices), {kMarch14At1022, true});
    EXPECT_EQ(text, R"(ОТЧЁТ О ШНУРЕ КОНТРОЛЛЕРА
Составлен 14.03.2025 10:22.

ИТОГ: Шнур CH340 подключён, но не работает: драйверы для устройства не установлены (код 28).
ЧТО СДЕЛАТЬ: Установите драйвер CH340/CH341 (CH341SER) с сайта производителя чипа, компании WCH, затем выньте шнур и вставьте его снова.

ПЕРЕХОДНИКИ USB — COM-ПОРТ
1. CH340
   USB 1A86:7523, ревизия 0264
   Название в Диспетчере устройств: «USB Serial»
   Подключён сейчас
   Драйвер: драйверы для устройства не установлены (код 28)
   COM-порт: нет
2. Prolific PL2303, вероятно PL2303HXA или PL2303XA (сняты с производства) либо PL2303TA
   USB 067B:2303, ревизия 0300
   Название в Диспетчере устройств: «Prolific USB-to-Serial Comm Port»
   Сейчас не подключён; дата последнего подключения неизвестна
   Драйвер: установлен; служба Ser2pl64, версия 3.3.2.102
   COM-порт: COM3 — не проверялся: устройство не подключено

КОНФИГУРАТОР ВОЗЬМЁТ: ничего; он сообщит «Система не обнаружила соединительный шнур».
Список портов, который Kanalyst запишет для конфигуратора в listport.txt:
   COMMUNICATIONS PORT (COM1)
)");
}

TEST(CableReport, TellsLinuxFaultsWithTheirCommands) {
    const std::pair<DeviceRecord, const char*> rows[] = {
        {LinuxCh340("COM33", PortOpen::Busy), "«sudo usermod -aG dialout $USER»"},
        {LinuxCh340(""), "«ln -s /dev/ttyUSB0 ~/.wine/dosdevices/com33»"},
        {LinuxCh340("", PortOpen::NotTried, ""), "«sudo modprobe ch341»"},
        {LinuxCh340("", PortOpen::NotTried, "usbfs"), "«sudo apt remove brltty»"},
    };
    for (const auto& [device, command] : rows) {
        const std::string summary = ReportSummary({device}, Diagnose({device}));
        EXPECT_NE(summary.find(command), std::string::npos) << summary;
    }
}

TEST(CableReport, WholeFileForTwoCablesOneBusyAfterACutEnumeration) {
    DeviceRecord refused = RefusedPl2303("COM7");
    refused.lastArrival = kMarch14At0905;
    const std::vector<DeviceRecord> devices = {refused, Ch340("COM5", PortOpen::Busy)};
    const std::string bytes =
        ReportFileBytes(FormatReport(devices, Diagnose(devices), {kMarch14At1022, false}));
    EXPECT_EQ(bytes,
              "\xEF\xBB\xBF"
              "ОТЧЁТ О ШНУРЕ КОНТРОЛЛЕРА\r\n"
              "Составлен 14.03.2025 10:22.\r\n"
              "Внимание: Windows слишком долго выдавала список устройств, и проверка его не "
              "дождалась; сведения могут быть неполными.\r\n"
              "\r\n"
              "ИТОГ: Шнур CH340 на COM5 найден, но его порт занят другой программой.\r\n"
              "ЧТО СДЕЛАТЬ: Подключено несколько шнуров (2): выньте лишние, оставьте только шнур "
              "контроллера; сейчас конфигуратор возьмёт COM5. Закройте программы, которые могут "
              "работать с COM5: терминалы, программы для прошивки, другие конфигураторы, вторую "
              "копию Taktor.exe. Затем повторите запись. Если не поможет, перезагрузите "
              "компьютер.\r\n"
              "\r\n"
              "ПЕРЕХОДНИКИ USB — COM-ПОРТ\r\n"
              "1. Prolific PL2303, вероятно PL2303HXA или PL2303XA (сняты с производства) либо "
              "PL2303TA\r\n"
              "   USB 067B:2303, ревизия 0300\r\n"
              "   Название в Диспетчере устройств: «PL2303HXA PHASED OUT SINCE 2012. PLEASE "
              "CONTACT YOUR SUPPLIER.»\r\n"
              "   Подключён сейчас, с 14.03.2025 09:05\r\n"
              "   Драйвер: запуск этого устройства невозможен (код 10); драйвер Prolific "
              "отказывается работать с этим чипом; служба Ser2pl64, версия 3.9.6.2\r\n"
              "   COM-порт: COM7 — такого порта в системе нет\r\n"
              "2. CH340\r\n"
              "   USB 1A86:7523, ревизия 0264\r\n"
              "   Название в Диспетчере устройств: «USB-SERIAL CH340»\r\n"
              "   Подключён сейчас\r\n"
              "   Драйвер: работает; служба CH341SER_A64\r\n"
              "   COM-порт: COM5 — занят другой программой (доступ запрещён)\r\n"
              "\r\n"
              "КОНФИГУРАТОР ВОЗЬМЁТ: COM5\r\n"
              "Список портов, который Kanalyst запишет для конфигуратора в listport.txt:\r\n"
              "   USB-SERIAL CH340 (COM5)\r\n");
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
