// Devices registered in the Wine prefix's device database, with the registry properties and the
// device properties that Kanalyst reads (names, capabilities, problem code, presence, dates,
// driver version), so that
// its real enumeration runs against them. Every program in the prefix sees these devices, so
// the tests that use them run only in a prefix of their own: CTest sets KANALYST_FAKE_PORTS=1
// together with that prefix.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <devpropdef.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace kanalyst {

inline constexpr GUID kPortsClassGuid = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
inline constexpr GUID kUsbClassGuid = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID kNoClassGuid = {};

struct FakeDevice {
    std::wstring instanceId;
    GUID setupClass = kNoClassGuid;  // no class: listed under "Other devices"
    std::wstring description;
    std::wstring friendlyName;          // empty: none
    std::wstring hardwareIds;           // multi-string without its final terminator; may be empty
    std::wstring portName;              // empty: the device has no PortName
    std::wstring service;               // empty: no driver
    std::optional<DWORD> capabilities;  // CM_DEVCAP_ flags
    // Device properties; unset ones are not stored.
    std::optional<DWORD> problemCode;
    bool problemAsInt32 = false;
    std::optional<bool> present;
    std::optional<ULONGLONG> lastRemoval;  // UTC, 100 ns units since 1601
    std::wstring driverVersion;
};

// A device of the Ports class, as the listing tool has always seen them.
inline FakeDevice FakePort(const std::wstring& instanceId, const std::wstring& description,
                           const std::wstring& hardwareIds, const std::wstring& portName) {
    FakeDevice device;
    device.instanceId = instanceId;
    device.setupClass = kPortsClassGuid;
    device.description = description;
    device.hardwareIds = hardwareIds;
    device.portName = portName;
    return device;
}

inline bool FakeDevicesAllowed() {
    const char* allowed = std::getenv("KANALYST_FAKE_PORTS");
    return allowed != nullptr && std::string(allowed) == "1";
}

inline void RemoveFakeDevices(const std::vector<FakeDevice>& devices) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    for (const FakeDevice& fake : devices) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (SetupDiOpenDeviceInfoW(set, fake.instanceId.c_str(), nullptr, 0, &device)) {
            SetupDiRemoveDevice(set, &device);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

namespace fake_detail {

// Not declared by every SDK's headers; present in Wine's setupapi.dll and in Windows since Vista.
using SetDevicePropertyW = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE,
                                         const BYTE*, DWORD, DWORD);

inline constexpr DEVPROPKEY kProblemCodeKey = {
    {0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 3};
inline constexpr DEVPROPKEY kIsPresentKey = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 5};
inline constexpr DEVPROPKEY kLastRemovalKey = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 103};
inline constexpr DEVPROPKEY kDriverVersionKey = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 3};

inline bool SetStringRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property,
                                      const std::wstring& value) {
    return SetupDiSetDeviceRegistryPropertyW(
        set, &device, property, reinterpret_cast<const BYTE*>(value.c_str()),
        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

inline bool SetProperties(SetDevicePropertyW setProperty, HDEVINFO set, SP_DEVINFO_DATA& device,
                          const FakeDevice& fake) {
    bool ok = true;
    if (fake.problemCode) {
        const DWORD code = *fake.problemCode;
        const DEVPROPTYPE type = fake.problemAsInt32 ? DEVPROP_TYPE_INT32 : DEVPROP_TYPE_UINT32;
        ok = ok && setProperty(set, &device, &kProblemCodeKey, type,
                               reinterpret_cast<const BYTE*>(&code), sizeof code, 0);
    }
    if (fake.present) {
        const DEVPROP_BOOLEAN present = *fake.present ? DEVPROP_TRUE : DEVPROP_FALSE;
        ok = ok && setProperty(set, &device, &kIsPresentKey, DEVPROP_TYPE_BOOLEAN,
                               reinterpret_cast<const BYTE*>(&present), sizeof present, 0);
    }
    if (fake.lastRemoval) {
        FILETIME time{static_cast<DWORD>(*fake.lastRemoval),
                      static_cast<DWORD>(*fake.lastRemoval >> 32)};
        ok = ok && setProperty(set, &device, &kLastRemovalKey, DEVPROP_TYPE_FILETIME,
                               reinterpret_cast<const BYTE*>(&time), sizeof time, 0);
    }
    if (!fake.driverVersion.empty()) {
        ok = ok && setProperty(set, &device, &kDriverVersionKey, DEVPROP_TYPE_STRING,
                               reinterpret_cast<const BYTE*>(fake.driverVersion.c_str()),
                               static_cast<DWORD>((fake.driverVersion.size() + 1) * 2), 0);
    }
    return ok;
}

}  // namespace fake_detail

inline ::testing::AssertionResult AddFakeDevices(const std::vector<FakeDevice>& devices) {
    const auto setProperty =
        reinterpret_cast<fake_detail::SetDevicePropertyW>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"setupapi.dll"), "SetupDiSetDevicePropertyW")));
    if (setProperty == nullptr) {
        return ::testing::AssertionFailure() << "no SetupDiSetDevicePropertyW";
    }
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return ::testing::AssertionFailure() << "no device list: " << GetLastError();
    }
    for (const FakeDevice& fake : devices) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiCreateDeviceInfoW(set, fake.instanceId.c_str(), &fake.setupClass,
                                      fake.description.c_str(), nullptr, 0, &device) ||
            !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
            SetupDiDestroyDeviceInfoList(set);
            return ::testing::AssertionFailure() << "cannot register a device: " << GetLastError();
        }
        bool ok = true;
        if (!fake.hardwareIds.empty()) {
            ok = fake_detail::SetStringRegistryProperty(set, device, SPDRP_HARDWAREID,
                                                        fake.hardwareIds + L'\0');
        }
        if (!fake.service.empty()) {
            ok = ok &&
                 fake_detail::SetStringRegistryProperty(set, device, SPDRP_SERVICE, fake.service);
        }
        if (!fake.friendlyName.empty()) {
            ok = ok && fake_detail::SetStringRegistryProperty(set, device, SPDRP_FRIENDLYNAME,
                                                              fake.friendlyName);
        }
        if (fake.capabilities) {
            ok = ok && SetupDiSetDeviceRegistryPropertyW(
                           set, &device, SPDRP_CAPABILITIES,
                           reinterpret_cast<const BYTE*>(&*fake.capabilities), sizeof(DWORD));
        }
        ok = ok && fake_detail::SetProperties(setProperty, set, device, fake);
        if (!fake.portName.empty()) {
            const HKEY key = SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                     nullptr, nullptr);
            ok = ok && key != INVALID_HANDLE_VALUE &&
                 RegSetValueExW(key, L"PortName", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(fake.portName.c_str()),
                                static_cast<DWORD>((fake.portName.size() + 1) * sizeof(wchar_t))) ==
                     ERROR_SUCCESS;
            if (key != INVALID_HANDLE_VALUE) {
                RegCloseKey(key);
            }
        }
        if (!ok) {
            SetupDiDestroyDeviceInfoList(set);
            return ::testing::AssertionFailure() << "cannot set the properties of a device";
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return ::testing::AssertionSuccess();
}

}  // namespace kanalyst
