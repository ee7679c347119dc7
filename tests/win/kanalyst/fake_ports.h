// Serial ports registered in the Wine prefix's device database, so that a program's real
// enumeration (device class, description, hardware ids, PortName) sees them. They show up for
// every program in the prefix: register them only in a prefix of the test's own.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace kanalyst {

constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

struct FakePort {
    const wchar_t* instanceId;
    const wchar_t* description;
    std::wstring hardwareIds;  // multi-string without its final terminator; may be empty
    const wchar_t* portName;   // nullptr: the device has no PortName
};

inline void RemoveFakePorts(const std::vector<FakePort>& ports) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    for (const FakePort& port : ports) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (SetupDiOpenDeviceInfoW(set, port.instanceId, nullptr, 0, &device)) {
            SetupDiRemoveDevice(set, &device);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

inline ::testing::AssertionResult AddFakePorts(const std::vector<FakePort>& ports) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return ::testing::AssertionFailure() << "no device list: " << GetLastError();
    }
    for (const FakePort& port : ports) {
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

}  // namespace kanalyst
