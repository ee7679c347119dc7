#include "tools/kanalyst/win/port_probe_win.h"

#include "common/win/wide.h"

namespace kanalyst {
namespace {

constexpr DWORD kDeniedRetryMs = 200;

struct ProbeJob {
    std::wstring port;
    PortOpen result = PortOpen::NoAnswer;
    std::uint32_t error = 0;
};

DWORD WINAPI RunProbeJob(void* parameter) {
    auto* job = static_cast<ProbeJob*>(parameter);
    job->result = OpenPortOnce(job->port, job->error);
    return 0;
}

}  // namespace

bool ShouldTestOpen(const DeviceRecord& device) {
    return IsPortsClass(device) && device.usb && !SanitiseText(device.port).empty() &&
           UpperCaseAscii(device.port).rfind("LPT", 0) != 0 && IsConnected(device) != false;
}

PortOpen OpenPortOnce(const std::wstring& port, std::uint32_t& error) {
    const std::wstring path = L"\\\\.\\" + port;
    for (int attempt = 1;; ++attempt) {
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            error = 0;
            return PortOpen::Free;
        }
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED || attempt == 2) {
            break;
        }
        Sleep(kDeniedRetryMs);
    }
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return PortOpen::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return PortOpen::Missing;
        default:
            return PortOpen::Failed;
    }
}

bool TestOpenPorts(std::vector<DeviceRecord>& devices, DWORD limitMs) {
    bool allReturned = true;
    for (DeviceRecord& device : devices) {
        if (!ShouldTestOpen(device)) {
            continue;
        }
        auto* job = new ProbeJob;
        job->port = taktor::Wide(taktor::TextFromUtf8(device.port));
        const HANDLE thread = CreateThread(nullptr, 0, RunProbeJob, job, 0, nullptr);
        if (thread == nullptr) {
            delete job;
            continue;  // stays NotTried
        }
        const bool finished = WaitForSingleObject(thread, limitMs) == WAIT_OBJECT_0;
        CloseHandle(thread);
        if (finished) {
            device.open = job->result;
            device.openError = job->error;
            delete job;
        } else {
            // Stuck inside the driver: the job stays with the worker until the process ends.
            device.open = PortOpen::NoAnswer;
            allReturned = false;
        }
    }
    return allReturned;
}

}  // namespace kanalyst
