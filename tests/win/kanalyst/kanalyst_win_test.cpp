// Kanalyst.exe's parts under Windows: the one-piece write of the list, and the time limit on the
// enumeration.
#include "tools/kanalyst/win/list_file_win.h"
#include "tools/kanalyst/win/serial_ports_win.h"
#include "tests/win/kanalyst/tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kanalyst {
namespace {

class TempDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        wchar_t temp[MAX_PATH + 1];
        ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
        base_ = std::wstring(temp) + L"kanalyst-test-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(++counter) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(base_.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(base_); }

    // Makes base_<name>\ and returns it.
    std::wstring MakeDirectory(const std::wstring& name) {
        const std::wstring dir = base_ + name + L"\\";
        EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        return dir;
    }

    static void RemoveTree(const std::wstring& dir) {
        for (const std::wstring& name : FileNames(dir)) {
            const std::wstring path = dir + name;
            if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + L"\\");
            } else {
                DeleteFileW(path.c_str());
            }
        }
        RemoveDirectoryW(dir.c_str());
    }

    std::wstring base_;
};

using ListFile = TempDirectory;

TEST_F(ListFile, FailsWithoutLeavingATemporaryFile) {
    // A directory where the list should go cannot be replaced by a file.
    MakeDirectory(L"listport.txt");
    ASSERT_TRUE(taktor::wintest::WriteFileText(base_ + L"listport.txt\\keep", "keep"));
    EXPECT_FALSE(WriteListFile(base_, "PROLIFIC USB-TO-SERIAL COMM PORT (COM3)\n"));
    EXPECT_EQ(FileNames(base_), std::set<std::wstring>{L"listport.txt"});
    EXPECT_FALSE(WriteListFile(base_ + L"missing\\", "text\n"));
}

HANDLE g_release = nullptr;

DeviceRecord PortDevice(const char* description, std::optional<UsbId> usb, const char* port) {
    DeviceRecord device;
    device.description = description;
    device.usb = usb;
    device.setupClass = "Ports";
    device.port = port;
    return device;
}

void FindTwoPorts(DeviceSink& sink) {
    sink.Add(PortDevice("Communications Port", std::nullopt, "COM1"));
    sink.Add(PortDevice("USB-SERIAL CH340", UsbId{0x1a86, 0x7523}, "COM5"));
}

void FindOnePortThenHang(DeviceSink& sink) {
    sink.Add(PortDevice("Prolific USB-to-Serial Comm Port", UsbId{0x067b, 0x2303}, "COM3"));
    WaitForSingleObject(g_release, INFINITE);  // a driver that does not answer
}

TEST(CollectDevicesWithin, ReturnsEverythingWhenTheEnumerationEnds) {
    const DeviceCollection found = CollectDevicesWithin(FindTwoPorts, 30000);
    EXPECT_TRUE(found.complete);
    ASSERT_EQ(found.devices.size(), 2u);
    EXPECT_EQ(found.devices[1].port, "COM5");
}

TEST(CollectDevicesWithin, GivesUpOnAHungEnumerationWithWhatItFound) {
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(g_release, nullptr);
    const ULONGLONG start = GetTickCount64();
    const DeviceCollection found = CollectDevicesWithin(FindOnePortThenHang, 300);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_FALSE(found.complete);
    EXPECT_LT(elapsed, 20000u);  // generous: only a wait without limit fails this
    ASSERT_EQ(found.devices.size(), 1u);
    EXPECT_EQ(found.devices[0].port, "COM3");
    SetEvent(g_release);  // let the worker end before the test program does
}

}  // namespace
}  // namespace kanalyst
