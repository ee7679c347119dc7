// Kanalyst.exe /report under Wine: each field situation and machine registered as fake devices
// with injected properties, and COM ports that open (COM21, the simulator's line), refuse as a
// busy port does (COM22) or do not exist (COM23), as CTest's wrappers set them up.
#include "tests/win/kanalyst/fake_devices.h"
#include "tests/win/kanalyst/tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace kanalyst {
namespace {

const std::wstring kReportName = L"Отчёт о шнуре.txt";
constexpr ULONGLONG kMarch2Noon = 133853904000000000;  // 02.03.2025 12:00 UTC

// capabilities: 0x84 (CM_DEVCAP_REMOVABLE, SURPRISEREMOVALOK) unpluggable, 0x80 built in.
FakeDevice Ch340(const std::wstring& serial, const std::wstring& port,
                 std::optional<DWORD> capabilities = {}) {
    FakeDevice device = FakePort(L"USB\\VID_1A86&PID_7523\\" + serial, L"USB-SERIAL CH340",
                                 L"USB\\VID_1A86&PID_7523&REV_0264", port);
    device.service = L"CH341SER_A64";
    device.problemCode = 0;
    device.present = true;
    device.driverVersion = L"3.8.2023.2";
    device.capabilities = capabilities;
    return device;
}

FakeDevice Prolific(const std::wstring& serial, const std::wstring& product,
                    const std::wstring& port, std::optional<DWORD> capabilities = {}) {
    FakeDevice device = FakePort(L"USB\\VID_067B&PID_" + product + L"\\" + serial,
                                 L"Prolific USB-to-Serial Comm Port",
                                 L"USB\\VID_067B&PID_" + product + L"&REV_0300", port);
    device.service = L"Ser2pl64";
    device.problemCode = 0;
    device.present = true;
    device.capabilities = capabilities;
    return device;
}

FakeDevice Ch340WithoutDriver() {
    FakeDevice device;
    device.instanceId = L"USB\\VID_1A86&PID_7523\\KANALYSTR4";
    device.description = L"USB Serial";
    device.hardwareIds = L"USB\\VID_1A86&PID_7523&REV_0264";
    device.problemCode = 28;
    device.present = true;
    return device;
}

// Windows 11: the current Prolific driver refuses a PL2303HXD and says so in the friendly name.
FakeDevice RefusedHxd() {
    FakeDevice device = Prolific(L"KANALYSTR5", L"2303", L"COM23");
    device.hardwareIds = L"USB\\VID_067B&PID_2303&REV_0400";
    device.friendlyName =
        L"PLEASE INSTALL CORRESPONDING PL2303 DRIVER TO SUPPORT WINDOWS 11 AND FURTHER OS. (COM23)";
    device.problemCode = 10;
    return device;
}

// Windows 7: no presence property, the problem code typed INT32; the cable disabled.
FakeDevice Windows7DisabledCable() {
    FakeDevice device = Prolific(L"KANALYSTR9", L"2303", L"COM22");
    device.present.reset();
    device.problemCode = 22;
    device.problemAsInt32 = true;
    return device;
}

FakeDevice RememberedCh340();

// A rugged laptop: a GPS receiver and a modem NMEA port built in, COM ports that Windows cannot
// unplug, and the cable unplugged.
std::vector<FakeDevice> RuggedLaptop() {
    FakeDevice gps =
        FakePort(L"USB\\VID_1546&PID_01A7\\KANALYSTG1", L"u-blox 7 - GPS/GNSS Receiver",
                 L"USB\\VID_1546&PID_01A7&REV_0100", L"COM21");
    FakeDevice nmea =
        FakePort(L"USB\\VID_1199&PID_9079&MI_02\\KANALYSTG2", L"Sierra Wireless NMEA Port",
                 L"USB\\VID_1199&PID_9079&MI_02", L"COM22");
    for (FakeDevice* device : {&gps, &nmea}) {
        device->service = L"usbser";
        device->capabilities = 0x80;  // CM_DEVCAP_SURPRISEREMOVALOK only
        device->problemCode = 0;
        device->present = true;
    }
    return {gps, nmea, RememberedCh340()};
}

FakeDevice BluetoothPort() {
    FakeDevice device =
        FakePort(L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\KB1",
                 L"Standard Serial over Bluetooth link", L"", L"COM22");
    device.service = L"BTHMODEM";
    device.problemCode = 0;
    device.present = true;
    return device;
}

// A board with its own USB serial port, plugged in: not in the adapter table, but removable.
FakeDevice PluggedBoard() {
    FakeDevice device = FakePort(L"USB\\VID_2341&PID_0043\\KANALYSTR6", L"USB Serial Device",
                                 L"USB\\VID_2341&PID_0043&REV_0001", L"COM23");
    device.service = L"usbser";
    device.capabilities = 0x84;  // CM_DEVCAP_REMOVABLE, CM_DEVCAP_SURPRISEREMOVALOK
    device.problemCode = 0;
    device.present = true;
    return device;
}

FakeDevice Ft232r(const std::wstring& serial, const std::wstring& port, DWORD capabilities) {
    FakeDevice device = FakePort(L"FTDIBUS\\VID_0403+PID_6001+" + serial + L"\\0000",
                                 L"USB Serial Port", L"FTDIBUS\\COMPORT&VID_0403&PID_6001", port);
    device.service = L"FTSER2K";
    device.capabilities = capabilities;
    device.problemCode = 0;
    device.present = true;
    return device;
}

FakeDevice UnknownUsbDevice() {
    FakeDevice device;
    device.instanceId = L"USB\\VID_0000&PID_0002\\KANALYSTR7";
    device.setupClass = kUsbClassGuid;
    device.description = L"Unknown USB Device (Device Descriptor Request Failed)";
    device.hardwareIds = L"USB\\DEVICE_DESCRIPTOR_FAILURE";
    device.problemCode = 43;
    device.present = true;
    return device;
}

FakeDevice RememberedCh340() {
    FakeDevice device = Ch340(L"KANALYSTR8", L"COM23");
    device.problemCode.reset();
    device.present = false;
    device.lastRemoval = kMarch2Noon;
    return device;
}

struct Situation {
    const char* name;
    std::vector<FakeDevice> devices;
    const wchar_t* arguments;
    std::string verdict;  // the start of the ИТОГ line
    std::string taken;    // the КОНФИГУРАТОР ВОЗЬМЁТ line
    std::string detail;   // a further piece of the report
};

const std::string kTakesNothing =
    "КОНФИГУРАТОР ВОЗЬМЁТ: ничего; он сообщит «Система не обнаружила соединительный шнур».";

std::vector<Situation> Situations() {
    return {
        {"laptop with a Bluetooth COM port, a built-in FTDI and PL2303 (not blamed), and the cable",
         {BluetoothPort(), Ft232r(L"KANALYSTB1", L"COM24", 0x80),
          Prolific(L"KANALYSTB2", L"2303", L"COM23", 0x80), Ch340(L"KANALYSTR1", L"COM21", 0x84)},
         L"/report /nowindow",
         "ИТОГ: Шнур CH340 на COM21 работает: порт открывается.",
         "КОНФИГУРАТОР ВОЗЬМЁТ: COM21",
         "   STANDARD SERIAL OVER BLUETOOTH LINK (COM22)\r\n   PROLIFIC USB-TO-SERIAL COMM PORT "
         "(COM23)\r\n   USB SERIAL PORT (COM24)\r\n   USB-SERIAL CH340 (COM21)\r\n"},
        {"busy",
         {Prolific(L"KANALYSTR2", L"2303", L"COM22")},
         L"-REPORT -NoWindow",
         "ИТОГ: Шнур Prolific PL2303 на COM22 найден, но его порт занят другой программой.",
         "КОНФИГУРАТОР ВОЗЬМЁТ: COM22",
         "COM-порт: COM22 — занят другой программой"},
        {"two cables, only the taken one opened",
         {Ch340(L"KANALYSTR3", L"COM21"), Prolific(L"KANALYSTR3", L"23C3", L"COM23")},
         L"/nowindow /report",
         "ИТОГ: Конфигуратор возьмёт шнур Prolific PL2303GT на COM23, но шнур не работает: порта "
         "COM23 в системе нет.",
         "КОНФИГУРАТОР ВОЗЬМЁТ: COM23",
         "COM-порт: COM21 — не открывался: конфигуратор его не возьмёт"},
        {"no driver",
         {Ch340WithoutDriver()},
         L"/report /nowindow",
         "ИТОГ: Шнур CH340 подключён, но не работает: драйверы для устройства не установлены "
         "(код 28).",
         kTakesNothing,
         "ЧТО СДЕЛАТЬ: Установите драйвер CH340/CH341 (CH341SER)"},
        {"Windows 11, PL2303HXD refused",
         {RefusedHxd()},
         L"/report /nowindow",
         "ИТОГ: Шнур Prolific PL2303 подключён, но не работает: запуск этого устройства "
         "невозможен (код 10); драйвер Prolific отказывается работать с этим чипом.",
         kTakesNothing,
         "ЧТО СДЕЛАТЬ: Надёжнее всего заменить шнур на шнур с чипом CH340."},
        {"Windows 7, cable disabled",
         {Windows7DisabledCable()},
         L"/report /nowindow",
         "ИТОГ: Шнур Prolific PL2303 подключён, но не работает: устройство выключено в "
         "Диспетчере устройств (код 22).",
         kTakesNothing,
         "(в Windows 7 — «Задействовать»)"},
        {"wrong adapter",
         {Ft232r(L"KANALYSTR6", L"COM23", 0x84)},
         L"/report /nowindow",
         "ИТОГ: Подключён не шнур контроллера, а другой переходник: FTDI FT232R (USB 0403:6001).",
         kTakesNothing,
         "   USB SERIAL PORT (COM23)\r\n"},
        {"a board of no known type is listed, not blamed",
         {PluggedBoard()},
         L"/report /nowindow",
         "ИТОГ: Компьютер не видит шнура контроллера; другие переходники, которые он видит, "
         "перечислены ниже",
         kTakesNothing,
         "1. USB-устройство «USB Serial Device»\r\n"},
        {"code 43",
         {UnknownUsbDevice()},
         L"/report /nowindow",
         "ИТОГ: Подключено USB-устройство, которое Windows не смогла опознать (код 43): скорее "
         "всего, плохой контакт или неисправный шнур.",
         kTakesNothing,
         "1. неопознанное USB-устройство\r\n"},
        {"rugged laptop with a GPS and a modem, cable unplugged", RuggedLaptop(),
         L"/report /nowindow",
         "ИТОГ: Шнур CH340 сейчас не подключён; последний раз он был подключён 02.03.2025 ",
         kTakesNothing, "   U-BLOX 7 - GPS/GNSS RECEIVER (COM21)\r\n"},
        {"nothing",
         {},
         L"/report /nowindow",
         "ИТОГ: Компьютер не видит ни шнура контроллера, ни другого USB-переходника на COM-порт.",
         kTakesNothing,
         "Не найдено ни одного.\r\n"},
    };
}

// The line that starts with start, without its line end, or "<none>".
std::string LineStartingWith(const std::string& text, const std::string& start) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        if (line.compare(0, start.size(), start) == 0) {
            return line;
        }
        at = end == std::string::npos ? text.size() : end + 2;
    }
    return "<none>";
}

::testing::AssertionResult IsNotepadText(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        return ::testing::AssertionFailure() << "no byte-order mark";
    }
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if ((bytes[k] == '\n') != (k > 0 && bytes[k - 1] == '\r') ||
            (bytes[k] == '\r' && (k + 1 == bytes.size() || bytes[k + 1] != '\n'))) {
            return ::testing::AssertionFailure() << "a line end other than CR LF at " << k;
        }
    }
    return ::testing::AssertionSuccess();
}

class CableReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FakeDevicesAllowed()) {
            GTEST_SKIP() << "needs a Wine prefix of its own (KANALYST_FAKE_PORTS=1)";
        }
        wchar_t temp[MAX_PATH + 1];
        ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
        temp_ = temp;
        dir_ = temp_ + L"kanalyst-report-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
        tool_ = dir_ + L"Kanalyst.exe";
        ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool_.c_str(), FALSE));
    }
    void TearDown() override {
        for (const std::wstring& name : FileNames(dir_)) {
            DeleteFileW((dir_ + name).c_str());
            RemoveDirectoryW((dir_ + name).c_str());
        }
        RemoveDirectoryW(dir_.c_str());
    }

    std::wstring temp_;
    std::wstring dir_;
    std::wstring tool_;
};

TEST_F(CableReportTest, EachSituationGetsItsVerdictAndNextStep) {
    for (const Situation& situation : Situations()) {
        SCOPED_TRACE(situation.name);
        RemoveFakeDevices(situation.devices);  // left over from an interrupted run
        ASSERT_TRUE(AddFakeDevices(situation.devices));
        const long code = RunAndWait(tool_, temp_, situation.arguments);
        RemoveFakeDevices(situation.devices);

        EXPECT_EQ(code, 0);
        const std::string report = taktor::wintest::ReadFileText(dir_ + kReportName);
        EXPECT_TRUE(IsNotepadText(report));
        const std::string verdict = LineStartingWith(report, "ИТОГ: ");
        EXPECT_EQ(verdict.substr(0, situation.verdict.size()), situation.verdict);
        EXPECT_EQ(LineStartingWith(report, "КОНФИГУРАТОР ВОЗЬМЁТ: "), situation.taken);
        EXPECT_NE(report.find(situation.detail), std::string::npos) << situation.detail;
        // The report never touches the configurator's list.
        EXPECT_EQ(FileNames(dir_), (std::set<std::wstring>{L"Kanalyst.exe", kReportName}));
        std::printf("--- %s\n%s", situation.name, report.c_str() + 3);
        DeleteFileW((dir_ + kReportName).c_str());
    }
}

TEST_F(CableReportTest, GoesToTheTemporaryFolderWhenItCannotLieBesideTheTool) {
    // A directory under the report's name keeps the file from being written there.
    ASSERT_TRUE(CreateDirectoryW((dir_ + kReportName).c_str(), nullptr));
    DeleteFileW((temp_ + kReportName).c_str());
    EXPECT_EQ(RunAndWait(tool_, dir_, L"/report /nowindow"), 0);
    const std::string report = taktor::wintest::ReadFileText(temp_ + kReportName);
    EXPECT_NE(LineStartingWith(report, "ИТОГ: "), "<none>");
    DeleteFileW((temp_ + kReportName).c_str());
}

}  // namespace
}  // namespace kanalyst
