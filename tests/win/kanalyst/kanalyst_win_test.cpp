// Kanalyst.exe and its parts under Windows: the list it leaves beside itself, the one-piece
// write of that list, and the time limit on the enumeration.
#include "tools/kanalyst/win/list_file_win.h"
#include "tools/kanalyst/win/serial_ports_win.h"
#include "tests/win/kanalyst/tool_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace kanalyst {
namespace {

// What the configurator needs of the list: UTF-8, LF line ends only, no zero bytes, and each
// line ending in ")" with its first "(" before its first ")". An empty list is well-formed.
::testing::AssertionResult IsWellFormedList(const std::string& bytes) {
    if (!bytes.empty() && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                              static_cast<int>(bytes.size()), nullptr, 0) == 0) {
        return ::testing::AssertionFailure() << "not valid UTF-8";
    }
    if (bytes.find('\r') != std::string::npos || bytes.find('\0') != std::string::npos) {
        return ::testing::AssertionFailure() << "CR or zero byte in the list";
    }
    if (!bytes.empty() && bytes.back() != '\n') {
        return ::testing::AssertionFailure() << "last line has no line end";
    }
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find('\n', start);
        const std::string line = bytes.substr(start, end - start);
        const std::size_t open = line.find('(');
        const std::size_t close = line.find(')');
        if (line.empty() || line.back() != ')' || open == std::string::npos || close < open) {
            return ::testing::AssertionFailure() << "bad line: " << line;
        }
        start = end + 1;
    }
    return ::testing::AssertionSuccess();
}

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

using KanalystExe = TempDirectory;

TEST_F(KanalystExe, LeavesAWellFormedListBesideItselfAndNothingElse) {
    const std::wstring toolDir = MakeDirectory(L"tool");
    const std::wstring otherDir = MakeDirectory(L"elsewhere");
    const std::wstring tool = toolDir + L"Kanalyst.exe";
    ASSERT_TRUE(CopyFileW(ToolPath().c_str(), tool.c_str(), FALSE)) << GetLastError();
    // A stale list that is not well-formed: it must be replaced, not kept or appended to.
    ASSERT_TRUE(WriteBytes(toolDir + L"listport.txt", "stale list without brackets\r\n"));

    ASSERT_EQ(RunAndWait(tool, otherDir), 0);

    std::string list;
    ASSERT_TRUE(ReadBytes(toolDir + L"listport.txt", list));
    EXPECT_TRUE(IsWellFormedList(list)) << list;
    EXPECT_EQ(FileNames(toolDir), (std::set<std::wstring>{L"Kanalyst.exe", L"listport.txt"}));
    EXPECT_TRUE(FileNames(otherDir).empty());
    std::printf("listport.txt under Wine (%u bytes):\n%s", static_cast<unsigned>(list.size()),
                list.c_str());
}

using ListFile = TempDirectory;

TEST_F(ListFile, FailsWithoutLeavingATemporaryFile) {
    // A directory where the list should go cannot be replaced by a file.
    MakeDirectory(L"listport.txt");
    ASSERT_TRUE(WriteBytes(base_ + L"listport.txt\\keep", "keep"));
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
