// Kanalyst.exe against serial ports registered in the Wine prefix's device database, so that
// the real enumeration (device class, descriptions, hardware ids, PortName) is exercised. These
// devices would show up for every program in the prefix, so the tests run only in a prefix of
// their own: CTest sets KANALYST_FAKE_PORTS=1 together with that prefix.
#include "tests/win/kanalyst/fake_ports.h"
#include "tests/win/kanalyst/tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace kanalyst {
namespace {

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

class FakePortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* allowed = std::getenv("KANALYST_FAKE_PORTS");
        if (allowed == nullptr || std::string(allowed) != "1") {
            GTEST_SKIP() << "needs a Wine prefix of its own (KANALYST_FAKE_PORTS=1)";
        }
        RemoveFakePorts(FakePorts());  // left over from an interrupted run
        ASSERT_TRUE(AddFakePorts(FakePorts()));
        added_ = true;
    }
    void TearDown() override {
        if (added_) {
            RemoveFakePorts(FakePorts());
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
