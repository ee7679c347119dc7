#include "tools/kanalyst/win/serial_ports_win.h"

#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpropdef.h>

#include <cwchar>
#include <string>
#include <utility>

#include "common/win/wide.h"

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

std::string Utf8FromWide(const wchar_t* text) {
    return taktor::Utf8FromText(taktor::FromWide(text));
}

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

// A device property of a fixed size and the given type, or false.
bool ReadFixedProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key,
                       DEVPROPTYPE wanted, void* value, DWORD size) {
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    return SetupDiGetDevicePropertyW(set, &device, &key, &type, static_cast<BYTE*>(value), size,
                                     &required, 0) &&
           type == wanted && required == size;
}

std::string ReadStringProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key) {
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    SetupDiGetDevicePropertyW(set, &device, &key, &type, nullptr, 0, &size, 0);
    if (size == 0 || type != DEVPROP_TYPE_STRING) {
        return std::string();
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDevicePropertyW(set, &device, &key, &type, reinterpret_cast<BYTE*>(&value[0]),
                                   size, nullptr, 0)) {
        return std::string();
    }
    return Utf8FromWide(value.c_str());
}

// A date property as local time in 100 ns units.
std::optional<std::uint64_t> ReadDateProperty(HDEVINFO set, SP_DEVINFO_DATA& device,
                                              const DEVPROPKEY& key) {
    FILETIME utc{};
    FILETIME local{};
    if (!ReadFixedProperty(set, device, key, DEVPROP_TYPE_FILETIME, &utc, sizeof utc) ||
        !FileTimeToLocalFileTime(&utc, &local)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
}

// A string value of one of the device's registry keys, or empty.
std::wstring ReadKeyValue(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD keyType,
                          const wchar_t* name) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, keyType, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    std::wstring text;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]),
                             &size) == ERROR_SUCCESS) {
            text.assign(value.c_str());  // up to the first zero; the value may lack one
        }
    }
    RegCloseKey(key);
    return text;
}

std::string ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD size = 0;
    SetupDiGetDeviceInstanceIdW(set, &device, nullptr, 0, &size);
    if (size == 0) {
        return std::string();
    }
    std::wstring id(size + 1, L'\0');
    if (!SetupDiGetDeviceInstanceIdW(set, &device, &id[0], size, nullptr)) {
        return std::string();
    }
    return Utf8FromWide(id.c_str());
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

// Everything else the diagnosis reads. Properties first; where Windows has none of them (before
// Windows 8 some are missing) the node status, the config flags and the driver key stand in.
void ReadState(HDEVINFO set, SP_DEVINFO_DATA& device, DeviceRecord& record) {
    record.description = Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_DEVICEDESC).c_str());
    record.service = Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_SERVICE).c_str());
    record.configFlags = ReadDwordProperty(set, device, SPDRP_CONFIGFLAGS);
    record.busDescription = ReadStringProperty(set, device, kBusReportedDescriptionKey);

    DWORD problem = 0;
    if (ReadFixedProperty(set, device, kProblemCodeKey, DEVPROP_TYPE_UINT32, &problem,
                          sizeof problem)) {
        record.problemProperty = problem;
    }
    DEVPROP_BOOLEAN present = DEVPROP_FALSE;
    if (ReadFixedProperty(set, device, kIsPresentKey, DEVPROP_TYPE_BOOLEAN, &present,
                          sizeof present)) {
        record.presentProperty = present != DEVPROP_FALSE;
    }
    if (!record.problemProperty || !record.presentProperty) {
        ULONG status = NodeStatus::kNotWritten;
        ULONG number = NodeStatus::kNotWritten;
        record.node.result = CM_Get_DevNode_Status(&status, &number, device.DevInst, 0);
        record.node.status = status;
        record.node.problem = number;
    }
    record.lastArrival = ReadDateProperty(set, device, kLastArrivalKey);
    record.lastRemoval = ReadDateProperty(set, device, kLastRemovalKey);
    record.driverVersion = ReadStringProperty(set, device, kDriverVersionKey);
    if (record.driverVersion.empty()) {
        record.driverVersion =
            Utf8FromWide(ReadKeyValue(set, device, DIREG_DRV, L"DriverVersion").c_str());
    }
}

bool IsPrinterPort(const std::string& port) {
    return UpperCaseAscii(port).rfind("LPT", 0) == 0;
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

struct CollectJob {
    DeviceEnumerator enumerate;
    DeviceSink sink;
};

DWORD WINAPI RunCollectJob(void* parameter) {
    auto* job = static_cast<CollectJob*>(parameter);
    job->enumerate(job->sink);
    return 0;
}

}  // namespace

void DeviceSink::Add(DeviceRecord record) {
    EnterCriticalSection(&lock_);
    devices_.push_back(std::move(record));
    LeaveCriticalSection(&lock_);
}

std::vector<DeviceRecord> DeviceSink::Snapshot() {
    EnterCriticalSection(&lock_);
    std::vector<DeviceRecord> copy = devices_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DeviceCollection CollectDevicesWithin(DeviceEnumerator enumerate, DWORD limitMs) {
    auto* job = new CollectJob{enumerate, {}};
    DeviceCollection collection;
    const HANDLE thread = CreateThread(nullptr, 0, RunCollectJob, job, 0, nullptr);
    if (thread == nullptr) {
        delete job;
        return collection;
    }
    const bool finished = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    collection.devices = job->sink.Snapshot();
    collection.complete = finished;
    if (finished) {
        delete job;
    }
    // Otherwise the worker still uses the job; it is left to the end of the process.
    return collection;
}

void EnumerateSerialPorts(DeviceSink& sink) {
    ReadDevices(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT), sink,
                [](const DeviceRecord& record) {
                    return !record.port.empty() && !IsPrinterPort(record.port);
                });
}

void EnumerateAdapters(DeviceSink& sink) {
    // Without DIGCF_PRESENT, so that remembered devices come too.
    ReadDevices(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES), sink,
                [](const DeviceRecord& record) {
                    return (IsPortsClass(record) && !IsPrinterPort(record.port)) ||
                           record.usb.has_value() ||
                           UpperCaseAscii(record.instanceId).rfind("USB\\", 0) == 0;
                });
}

}  // namespace kanalyst
