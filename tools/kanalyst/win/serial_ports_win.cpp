#include "tools/kanalyst/win/serial_ports_win.h"

#include <setupapi.h>

#include <cwchar>
#include <string>
#include <utility>

#include "common/win/wide.h"

namespace kanalyst {
namespace {

// The Ports (COM and LPT) device setup class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Utf8FromWide(const wchar_t* text) {
    return taktor::Utf8FromText(taktor::FromWide(text));
}

// A string or multi-string device property, with at least two terminating zeros so that both
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

// The PortName value of the device's hardware key ("COM3"), or empty.
std::wstring ReadPortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    std::wstring name;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PortName", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(&value[0]),
                             &size) == ERROR_SUCCESS) {
            name.assign(value.c_str());  // up to the first zero; the value may lack one
        }
    }
    RegCloseKey(key);
    return name;
}

std::optional<UsbId> UsbIdFromHardwareIds(const std::wstring& ids) {
    for (const wchar_t* id = ids.c_str(); *id != L'\0'; id += std::wcslen(id) + 1) {
        if (std::optional<UsbId> usb = ParseHardwareId(Utf8FromWide(id))) {
            return usb;
        }
    }
    return std::nullopt;
}

struct CollectJob {
    PortEnumerator enumerate;
    PortSink sink;
};

DWORD WINAPI RunCollectJob(void* parameter) {
    auto* job = static_cast<CollectJob*>(parameter);
    job->enumerate(job->sink);
    return 0;
}

}  // namespace

void PortSink::Add(PortRecord record) {
    EnterCriticalSection(&lock_);
    ports_.push_back(std::move(record));
    LeaveCriticalSection(&lock_);
}

std::vector<PortRecord> PortSink::Snapshot() {
    EnterCriticalSection(&lock_);
    std::vector<PortRecord> copy = ports_;
    LeaveCriticalSection(&lock_);
    return copy;
}

PortCollection CollectPortsWithin(PortEnumerator enumerate, DWORD limitMs) {
    auto* job = new CollectJob{enumerate, {}};
    PortCollection collection;
    const HANDLE thread = CreateThread(nullptr, 0, RunCollectJob, job, 0, nullptr);
    if (thread == nullptr) {
        delete job;
        return collection;
    }
    const bool finished = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    collection.ports = job->sink.Snapshot();
    collection.complete = finished;
    if (finished) {
        delete job;
    }
    // Otherwise the worker still uses the job; it is left to the end of the process.
    return collection;
}

void EnumerateSerialPorts(PortSink& sink) {
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        PortRecord record;
        record.port = Utf8FromWide(ReadPortName(set, device).c_str());
        if (record.port.empty() || UpperCaseAscii(record.port).rfind("LPT", 0) == 0) {
            continue;
        }
        record.description =
            Utf8FromWide(ReadDeviceProperty(set, device, SPDRP_DEVICEDESC).c_str());
        record.usb = UsbIdFromHardwareIds(ReadDeviceProperty(set, device, SPDRP_HARDWAREID));
        sink.Add(std::move(record));
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace kanalyst
