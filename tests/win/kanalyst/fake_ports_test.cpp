// Kanalyst.exe against serial ports registered in the Wine prefix's device database, so that
// the real enumeration (device class, descriptions, hardware ids, PortName, problem codes) is
// exercised, and the list it leaves beside itself.
#include "tests/win/kanalyst/fake_devices.h"
#include "tests/win/kanalyst/tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kanalyst {
namespace {

const std::vector<FakeDevice>& FakePorts() {
    using namespace std::string_literals;
    static const std::vector<FakeDevice> ports = [] {
        std::vector<FakeDevice> list = {
            FakePort(L"USB\\VID_067B&PID_23C3\\KANALYST1", L"Prolific PL2303GT USB Serial COM Port",
                     L"USB\\VID_067B&PID_23C3&REV_0300\0USB\\VID_067B&PID_23C3"s, L"COM7"),
            FakePort(L"USB\\VID_1A86&PID_7523\\KANALYST2", L"USB-SERIAL CH340",
                     L"USB\\VID_1A86&PID_7523&REV_0264", L"COM12"),
            FakePort(L"FTDIBUS\\COMPORT&VID_0403&PID_6001\\KANALYST3", L"USB Serial Port (COM3) ",
                     L"FTDIBUS\\COMPORT&VID_0403&PID_6001", L"COM3"),
            FakePort(L"ACPI\\PNP0501\\KANALYST4", L"Communications Port", L"ACPI\\PNP0501",
                     L"COM1"),
            FakePort(L"ROOT\\PORTS\\KANALYST5", L"Prolific USB-to-Serial Comm Port", L"", L"COM2"),
            FakePort(L"ROOT\\PORTS\\KANALYST6", L"Последовательный порт", L"", L"COM4"),
            FakePort(L"ACPI\\PNP0401\\KANALYST7", L"ECP Printer Port", L"ACPI\\PNP0401", L"LPT1"),
            FakePort(L"ROOT\\PORTS\\KANALYST8", L"Port without a name", L"", L""),
            // A Prolific chip its driver refuses (code 10) and a disabled port (code 22): the
            // configurator would take them and report a busy port, so they are left out.
            FakePort(L"USB\\VID_067B&PID_2303\\KANALYST9",
                     L"PL2303HXA PHASED OUT SINCE 2012. PLEASE CONTACT YOUR SUPPLIER.",
                     L"USB\\VID_067B&PID_2303&REV_0300", L"COM8"),
            FakePort(L"USB\\VID_1A86&PID_7523\\KANALYST10", L"USB-SERIAL CH340",
                     L"USB\\VID_1A86&PID_7523&REV_0264", L"COM9"),
        };
        list[8].problemCode = 10;
        list[9].problemCode = 22;
        // A working port whose state reads as working: listed as ever.
        list[1].problemCode = 0;
        list[1].present = true;
        return list;
    }();
    return ports;
}

const char kExpectedList[] =
    "COMMUNICATIONS PORT (COM1)\n"
    "PROLIFIC USB-TO-SERIAL COMM PORT (COM2)\n"
    "USB SERIAL PORT [COM3] (COM3)\n"
    "Последовательный порт (COM4)\n"
    "PROLIFIC USB-TO-SERIAL COMM PORT (COM7)\n"
    "USB-SERIAL CH340 (COM12)\n";

class FakePortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!FakeDevicesAllowed()) {
            GTEST_SKIP() << "needs a Wine prefix of its own (KANALYST_FAKE_PORTS=1)";
        }
        RemoveFakeDevices(FakePorts());  // left over from an interrupted run
        ASSERT_TRUE(AddFakeDevices(FakePorts()));
        added_ = true;
    }
    void TearDown() override {
        if (added_) {
            RemoveFakeDevices(FakePorts());
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
    // A stale list that is not well-formed: it must be replaced, not kept or appended to.
    ASSERT_TRUE(taktor::wintest::WriteFileText(dir + L"listport.txt", "stale list\r\n"));

    EXPECT_EQ(RunAndWait(tool, temp), 0);  // the list goes beside the tool, wherever started
    EXPECT_EQ(taktor::wintest::ReadFileText(dir + L"listport.txt"), kExpectedList);
    EXPECT_EQ(FileNames(dir), (std::set<std::wstring>{L"Kanalyst.exe", L"listport.txt"}));
    EXPECT_EQ(GetFileAttributesW((std::wstring(temp) + L"listport.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);

    DeleteFileW((dir + L"listport.txt").c_str());
    DeleteFileW(tool.c_str());
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace kanalyst
