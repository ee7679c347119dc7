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

OpenOutcome OpenPortOnce(const std::wstring& path) {
    OpenOutcome outcome;
    for (int attempt = 1;; ++attempt) {
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return {PortOpen::Free, 0};
        }
        outcome.error = GetLastError();
        if (outcome.error != ERROR_ACCESS_DENIED || attempt == 2) {
            break;
        }
        Sleep(kDeniedRetryMs);
    }
    switch (outcome.error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            outcome.result = PortOpen::Busy;
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            outcome.result = PortOpen::Missing;
            break;
        default:
            outcome.result = PortOpen::Failed;
            break;
    }
    return outcome;
}

}  // namespace

OpenOutcome TestOpenPort(const std::string& port, DWORD limitMs, bool& returned) {
    // The worker's own: it may outlive this call inside a driver.
    const auto outcome = std::make_shared<OpenOutcome>(OpenOutcome{PortOpen::NoAnswer, 0});
    const std::wstring path = std::wstring(L"\\\\.\\") + taktor::Wide(taktor::TextFromUtf8(port));
    taktor::Worker worker;
    if (!worker.Start([outcome, path] { *outcome = OpenPortOnce(path); })) {
        return OpenOutcome{};
    }
    returned = worker.WaitFor(std::chrono::milliseconds(limitMs));
    return returned ? *outcome : OpenOutcome{PortOpen::NoAnswer, 0};
}

}  // namespace kanalyst
