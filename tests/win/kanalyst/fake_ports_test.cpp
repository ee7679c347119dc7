// Kanalyst.exe against serial ports registered in the Wine prefix's device database, so that
// the real enumeration (device class, descriptions, hardware ids, PortName) is exercised. These
// devices would show up for every program in the prefix, so the tests run only in a prefix of
// their own: CTest sets KANALYST_FAKE_PORTS=1 together with that prefix.
#include "tests/win/kanalyst/tool_run.h"

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace kanalyst {
namespace {

constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

struct FakePort {
    const wchar_t* instanceId;
    const wchar_t* description;
    std::wstring hardwareIds;  // multi-string without its final terminator; may be empty
    const wchar_t* portName;   // nullptr: the device has no PortName
};

const std::vector<FakePort>& FakePorts() {
    using namespace std::string_literals;
    static const std::vector<FakePort> ports = {
        {L"USB\\VID_067B&PID_23C3\\KANALYST1", L"Prolific PL2303GT USB Serial COM Port",
         L"USB\\VID_067B&PID_23C3&REV_0300\0USB\\VID_067B&PID_23C3\0"s, L"COM7"},
        {L"USB\\VID_1A86&PID_7523\\KANALYST2", L"USB-SERIAL CH340",
         L"USB\\VID_1A86&PID_7523&REV_0264\0"s, L"COM12"},
        {L"FTDIBUS\\COMPORT&VID_0403&PID_6001\\KANALYST3", L"USB Serial Port (COM3) ",
         L"FTDIBUS\\COMPORT&VID_0403&PID_6001\0"s, L"COM3"},
        {L"ACPI\\PNP0501\\KANALYST4", L"Communications Port", L"ACPI\\PNP0501\0"s, L"COM1"},
        {L"ROOT\\PORTS\\KANALYST5", L"Prolific USB-to-Serial Comm Port", L"", L"COM2"},
        {L"ROOT\\PORTS\\KANALYST6", L"Последовательный порт", L"", L"COM4"},
        {L"ACPI\\PNP0401\\KANALYST7", L"ECP Printer Port", L"ACPI\\PNP0401\0"s, L"LPT1"},
        {L"ROOT\\PORTS\\KANALYST8", L"Port without a name", L"", nullptr},
    };
    return ports;
}

const char kExpectedList[] =
    "COMMUNICATIONS PORT (COM1)\n"
    "PROLIFIC USB-TO-SERIAL COMM PORT (COM2)\n"
    "USB SERIAL PORT [COM3] (COM3)\n"
    "Последовательный порт (COM4)\n"
    "PROLIFIC USB-TO-SERIAL COMM PORT (COM7)\n"
    "USB-SERIAL CH340 (COM12)\n";

void RemoveFakePorts() {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    for (const FakePort& port : FakePorts()) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (SetupDiOpenDeviceInfoW(set, port.instanceId, nullptr, 0, &device)) {
            SetupDiRemoveDevice(set, &device);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

::testing::AssertionResult AddFakePorts() {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return ::testing::AssertionFailure() << "no device list: " << GetLastError();
    }
    for (const FakePort& port : FakePorts()) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiCreateDeviceInfoW(set, port.instanceId, &kPortsClass, port.description, nullptr,
                                      0, &device) ||
            !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
            SetupDiDestroyDeviceInfoList(set);
            return ::testing::AssertionFailure() << "cannot register a device: " << GetLastError();
        }
        if (!port.hardwareIds.empty()) {
            const std::wstring ids = port.hardwareIds + L'\0';
            SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                              reinterpret_cast<const BYTE*>(ids.c_str()),
                                              static_cast<DWORD>(ids.size() * sizeof(wchar_t)));
        }
        const HKEY key =
            SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        if (key != INVALID_HANDLE_VALUE) {
            if (port.portName != nullptr) {
                RegSetValueExW(
                    key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.portName),
                    static_cast<DWORD>((std::wcslen(port.portName) + 1) * sizeof(wchar_t)));
            }
            RegCloseKey(key);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return ::testing::AssertionSuccess();
}

class FakePortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* allowed = std::getenv("KANALYST_FAKE_PORTS");
        if (allowed == nullptr || std::string(allowed) != "1") {
            GTEST_SKIP() << "needs a Wine prefix of its own (KANALYST_FAKE_PORTS=1)";
        }
        RemoveFakePorts();  // left over from an interrupted run
        ASSERT_TRUE(AddFakePorts());
        added_ = true;
    }
    void TearDown() override {
        if (added_) {
            RemoveFakePorts();
        }
    }

    bool added_ = false;
};

TEST_F(FakePortsTest, ToolListsThePortsAsTheConfiguratorReadsThem) {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring dir =
        std::wstring(temp) + L"kanalyst-ports-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    const std::wstring tool = dir + L"Kanalyst.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool.c_str(), FALSE));

    EXPECT_EQ(RunAndWait(tool, dir), 0);
    std::string list;
    EXPECT_TRUE(ReadBytes(dir + L"listport.txt", list));
    EXPECT_EQ(list, kExpectedList);
    EXPECT_EQ(FileNames(dir), (std::set<std::wstring>{L"Kanalyst.exe", L"listport.txt"}));

    DeleteFileW((dir + L"listport.txt").c_str());
    DeleteFileW(tool.c_str());
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace kanalyst
