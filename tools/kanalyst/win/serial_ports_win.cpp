// Reads the devices Windows knows of through SetupAPI and the configuration manager, each into
// a DeviceRecord, on a worker whose wait is bounded.
#include "tools/kanalyst/win/serial_ports_win.h"

#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpropdef.h>

#include <chrono>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>

#include "common/win/wide.h"
#include "common/worker.h"
#include "tools/kanalyst/linux_side.h"
#include "tools/kanalyst/win/wine_side_win.h"

namespace kanalyst {
namespace {

// The Ports (COM and LPT) device setup class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The device properties read, spelled out so that no property key needs linking.
constexpr DEVPROPKEY kProblemCodeKey = {
    {0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 3};
constexpr DEVPROPKEY kBusReportedDescriptionKey = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};
constexpr DEVPROPKEY kIsPresentKey = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 5};
constexpr DEVPROPKEY kLastArrivalKey = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 102};
constexpr DEVPROPKEY kLastRemovalKey = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 103};
constexpr DEVPROPKEY kDriverVersionKey = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 3};

// A string or multi-string registry property, with at least two terminating zeros so that both
// kinds can be walked safely; empty when the device has none.
std::wstring ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &size);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring value(size / sizeof(wchar_t) + 2, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(&value[0]), size, nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return std::wstring();
    }
    return value;
}

std::optional<std::uint32_t> ReadDwordProperty(HDEVINFO set, SP_DEVINFO_DATA& device,
                                               DWORD property) {
    DWORD type = 0;
    DWORD value = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(&value), sizeof value,
                                           nullptr) ||
        type != REG_DWORD) {
        return std::nullopt;
    }
    return value;
}

// A device property of a fixed size: its type, or nothing when it is missing or of another size.
std::optional<DEVPROPTYPE> ReadFixedProperty(HDEVINFO set, SP_DEVINFO_DATA& device,
                                             const DEVPROPKEY& key, void* value, DWORD size) {
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &key, &type, static_cast<BYTE*>(value), size,
                                   &required, 0) ||
        required != size) {
        return std::nullopt;
    }
    return type;
}

// A string device property, up to 1,023 characters (versions and product strings are short).
std::string ReadStringProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key) {
    wchar_t value[1024] = {};
    DEVPROPTYPE type = 0;
    return SetupDiGetDevicePropertyW(set, &device, &key, &type, reinterpret_cast<BYTE*>(value),
                                     sizeof value - sizeof(wchar_t), nullptr, 0) &&
                   type == DEVPROP_TYPE_STRING
               ? Utf8FromWide(value)
               : std::string();
}

// A date property (UTC) as local time, by the rules of the time zone on that date.
std::optional<LocalTime> ReadDateProperty(HDEVINFO set, SP_DEVINFO_DATA& device,
                                          const DEVPROPKEY& key) {
    FILETIME utc{};
    SYSTEMTIME utcTime{};
    SYSTEMTIME local{};
    if (ReadFixedProperty(set, device, key, &utc, sizeof utc) != DEVPROP_TYPE_FILETIME ||
        !FileTimeToSystemTime(&utc, &utcTime) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local)) {
        return std::nullopt;
    }
    return LocalTimeOf(local);
}

// Whether Windows lets the device be unplugged. A function of a composite USB device (an
// instance id with "&MI_") cannot be removed from its parent by itself, so there the USB device
// above it tells.
std::optional<bool> ReadRemovable(HDEVINFO set, SP_DEVINFO_DATA& device,
                                  const std::string& instanceId) {
    const std::optional<std::uint32_t> own = ReadDwordProperty(set, device, SPDRP_CAPABILITIES);
    if (!own) {
        return std::nullopt;
    }
    const bool removable = (*own & CM_DEVCAP_REMOVABLE) != 0;
    if (removable || UpperCaseAscii(instanceId).find("&MI_") == std::string::npos) {
        return removable;
    }
    DEVINST parent = device.DevInst;  // a stub that answers without writing leaves it so
    ULONG capabilities = 0;
    ULONG size = sizeof capabilities;
    ULONG type = 0;
    if (CM_Get_Parent(&parent, device.DevInst, 0) != CR_SUCCESS || parent == device.DevInst ||
        CM_Get_DevNode_Registry_PropertyW(parent, CM_DRP_CAPABILITIES, &type, &capabilities, &size,
                                          0) != CR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    return (capabilities & CM_DEVCAP_REMOVABLE) != 0;
}

// A string value of one of the device's registry keys (PortName, DriverVersion: short), or
// empty.
std::wstring ReadKeyValue(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD keyType,
                          const wchar_t* name) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, keyType, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    wchar_t value[512] = {};  // ends in a zero even when the value lacks one
    DWORD type = 0;
    DWORD size = sizeof value - sizeof(wchar_t);
    const bool read = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                       &size) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(key);
    return read ? std::wstring(value) : std::wstring();
}

std::string ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    return SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr)
               ? Utf8FromWide(id)
               : std::string();
}

// The ids, class and port: enough to tell whether the device matters here.
DeviceRecord ReadIdentity(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DeviceRecord record;
    record.instanceId = ReadInstanceId(set, device);
    const std::wstring ids = ReadDeviceProperty(set, device, SPDRP_HARDWAREID);
    for (const wchar_t* id = ids.c_str(); *id != L'\0'; id += std::wcslen(id) + 1) {
        const std::string text = Utf8FromWide(id);
        if (!record.usb) {
            record.usb = ParseHardwareId(text);
        }
        if (!record.revision) {
            record.revision = ParseRevision(text);
        }
    }
    if (!record.usb) {
        record.usb = ParseHardwareId(record.instanceId);
    }
    if (IsEqualGUID(device.ClassGuid, kPortsClass)) {
        record.setupClass = "Ports";
        record.port = Utf8FromWide(ReadKeyValue(set, device, DIREG_DEV, L"PortName").c_str());
    } else {
        record.setupClass = Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_CLASS).c_str());
    }
    return record;
}

// Everything else the diagnosis reads. Properties first; where Windows has none of them
// (Windows 7 has neither presence nor the dates) the node status, the config flags and the
// driver key stand in. The node status is always read: only it tells whether the device started.
void ReadState(HDEVINFO set, SP_DEVINFO_DATA& device, DeviceRecord& record) {
    record.description = Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_DEVICEDESC).c_str());
    record.friendlyName = Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_FRIENDLYNAME).c_str());
    record.service = Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_SERVICE).c_str());
    record.configFlags = ReadDwordProperty(set, device, SPDRP_CONFIGFLAGS);
    record.removable = ReadRemovable(set, device, record.instanceId);
    record.busDescription = ReadStringProperty(set, device, kBusReportedDescriptionKey);

    // Documented as UINT32, but some systems store it as INT32; the code reads the same.
    DWORD problem = 0;
    const std::optional<DEVPROPTYPE> problemType =
        ReadFixedProperty(set, device, kProblemCodeKey, &problem, sizeof problem);
    if (problemType == DEVPROP_TYPE_UINT32 || problemType == DEVPROP_TYPE_INT32) {
        record.problemProperty = problem;
    }
    DEVPROP_BOOLEAN present = DEVPROP_FALSE;
    if (ReadFixedProperty(set, device, kIsPresentKey, &present, sizeof present) ==
        DEVPROP_TYPE_BOOLEAN) {
        record.presentProperty = present != DEVPROP_FALSE;
    }
    ULONG status = NodeStatus::kNotWritten;
    ULONG number = NodeStatus::kNotWritten;
    record.node.result = CM_Get_DevNode_Status(&status, &number, device.DevInst, 0);
    record.node.status = status;
    record.node.problem = number;
    record.lastArrival = ReadDateProperty(set, device, kLastArrivalKey);
    record.lastRemoval = ReadDateProperty(set, device, kLastRemovalKey);
    record.driverVersion = ReadStringProperty(set, device, kDriverVersionKey);
    if (record.driverVersion.empty()) {
        record.driverVersion =
            Utf8FromWide(ReadKeyValue(set, device, DIREG_DRV, L"DriverVersion").c_str());
    }
}

// Walks a device list, reading each device that keep accepts in full.
template <typename Keep>
void ReadDevices(HDEVINFO set, DeviceSink& sink, Keep keep) {
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        DeviceRecord record = ReadIdentity(set, device);
        if (keep(record)) {
            ReadState(set, device, record);
            sink.Add(std::move(record));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

void DeviceSink::Add(DeviceRecord record) {
    const std::lock_guard<std::mutex> lock(mutex_);
    collected_.devices.push_back(std::move(record));
}

void DeviceSink::AddLinuxSide(std::vector<DeviceRecord> found, const MachineFacts& machine) {
    const std::lock_guard<std::mutex> lock(mutex_);
    AddUnlistedPorts(collected_.devices, std::move(found));
    collected_.machine = machine;
}

DeviceCollection DeviceSink::Snapshot() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return collected_;
}

DeviceCollection CollectDevicesWithin(DeviceEnumerator enumerate, DWORD limitMs) {
    const auto sink = std::make_shared<DeviceSink>();
    taktor::Worker worker;
    if (!worker.Start([enumerate, sink] { enumerate(*sink); })) {
        return DeviceCollection{};
    }
    const bool complete = worker.WaitFor(std::chrono::milliseconds(limitMs));
    DeviceCollection collection = sink->Snapshot();
    collection.complete = complete;
    return collection;
}

std::string Utf8FromWide(const wchar_t* text) {
    return taktor::Utf8FromText(taktor::FromWide(text));
}

LocalTime LocalTimeOf(const SYSTEMTIME& time) {
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute};
}

void EnumerateSerialPorts(DeviceSink& sink) {
    ReadDevices(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT), sink,
                [](const DeviceRecord& record) {
                    return !record.port.empty() && !IsPrinterPort(record.port);
                });
    AddWineDevices(sink);
}

void EnumerateAdapters(DeviceSink& sink) {
    // Without DIGCF_PRESENT, so that remembered devices come too.
    ReadDevices(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES), sink,
                [](const DeviceRecord& record) {
                    return (IsPortsClass(record) && !IsPrinterPort(record.port)) ||
                           record.usb.has_value() ||
                           UpperCaseAscii(record.instanceId).rfind("USB\\", 0) == 0;
                });
    AddWineDevices(sink);
}

}  // namespace kanalyst
