// Opens one serial port the way a program would, to tell whether it is free, held by another
// program, gone, or stuck in its driver.
#include "tools/kanalyst/win/port_probe_win.h"

#include <chrono>
#include <memory>

#include "common/win/wide.h"
#include "common/worker.h"

namespace kanalyst {
namespace {

constexpr DWORD kDeniedRetryMs = 200;

}  // namespace

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

bool TestOpenPort(DeviceRecord& device, DWORD limitMs) {
    // The worker's own, and the port name the configurator would open: the worker may outlive
    // this call inside a driver.
    struct Outcome {
        PortOpen result = PortOpen::NoAnswer;
        std::uint32_t error = 0;
    };
    const auto outcome = std::make_shared<Outcome>();
    const std::wstring port = taktor::Wide(taktor::TextFromUtf8(SanitiseText(device.port)));
    taktor::Worker worker;
    if (!worker.Start([outcome, port] { outcome->result = OpenPortOnce(port, outcome->error); })) {
        return true;  // stays NotTried
    }
    if (!worker.WaitFor(std::chrono::milliseconds(limitMs))) {
        device.open = PortOpen::NoAnswer;
        return false;
    }
    device.open = outcome->result;
    device.openError = outcome->error;
    return true;
}

}  // namespace kanalyst
