// The serial device on Windows: an overlapped handle, so that a status query or read on one
// thread never waits behind a write on another and a pending operation can be cancelled; the
// blocking behaviour of the channel is built from waits on the operations' events and the
// attempt's stop signal.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>
#include <string>

#include "link/serial_channel.h"
#include "link/serial_device.h"
#include "link/write_timing.h"

namespace taktor {

namespace {

// The status query that ClearCommError makes, made here as an overlapped operation of its own,
// so that a query held up in the driver ends with its attempt like a read or a write. It clears
// the line's error flags as ClearCommError does. (The names of the serial driver's interface.)
constexpr DWORD kGetCommStatus =
    CTL_CODE(FILE_DEVICE_SERIAL_PORT, 27, METHOD_BUFFERED, FILE_ANY_ACCESS);
struct SerialStatus {
    ULONG errors;
    ULONG holdReasons;
    ULONG amountInInQueue;
    ULONG amountInOutQueue;
    BOOLEAN eofReceived;
    BOOLEAN waitForImmediate;
};

class WinSerialDevice : public SerialDevice {
public:
    WinSerialDevice(HANDLE handle, HANDLE portLock) : handle_(handle), portLock_(portLock) {}
    ~WinSerialDevice() override {
        CloseHandle(handle_);
        CloseHandle(portLock_);
    }

    ChannelHandle Handle() const override { return reinterpret_cast<ChannelHandle>(handle_); }

    std::int32_t QueuedInput(const StopSignal& stop) override {
        SerialStatus status{};
        DWORD got = 0;
        const bool done = Run(
            [&](OVERLAPPED* record) {
                return DeviceIoControl(handle_, kGetCommStatus, nullptr, 0, &status, sizeof(status),
                                       nullptr, record);
            },
            INFINITE, stop, got);
        if (!done || got < offsetof(SerialStatus, amountInOutQueue)) {
            return 0;
        }
        return static_cast<std::int32_t>(std::min<ULONG>(status.amountInInQueue, INT_MAX));
    }

    // With all read time-outs 0 the driver completes a read only when it is full; the loop
    // covers drivers that hand over what they have.
    std::int32_t Read(void* buffer, std::int32_t length, const StopSignal& stop) override {
        return Transfer(length, INFINITE, stop, [&](std::int32_t done, OVERLAPPED* record) {
            return ReadFile(handle_, static_cast<char*>(buffer) + done,
                            static_cast<DWORD>(length - done), nullptr, record);
        });
    }

    // The driver's own write time-out is set as well, but not every driver applies it to an
    // overlapped write, so the wait is bounded here.
    std::int32_t Write(const void* buffer, std::int32_t length, const StopSignal& stop) override {
        const auto limit = length * kWriteTimeoutPerByte + kWriteTimeoutExtra;
        return Transfer(length, static_cast<DWORD>(limit.count()), stop,
                        [&](std::int32_t done, OVERLAPPED* record) {
                            return WriteFile(handle_, static_cast<const char*>(buffer) + done,
                                             static_cast<DWORD>(length - done), nullptr, record);
                        });
    }

private:
    // Moves length bytes in as many operations as the driver takes, within limitMs in all. The
    // count moved, also what came or went before a failure or a stop.
    template <typename Start>
    std::int32_t Transfer(std::int32_t length, DWORD limitMs, const StopSignal& stop, Start start) {
        const ULONGLONG deadline = GetTickCount64() + limitMs;
        std::int32_t done = 0;
        while (done < length) {
            const ULONGLONG now = GetTickCount64();
            if (limitMs != INFINITE && now >= deadline) {
                break;
            }
            DWORD moved = 0;
            const bool complete = Run(
                [&](OVERLAPPED* record) { return start(done, record); },
                limitMs == INFINITE ? INFINITE : static_cast<DWORD>(deadline - now), stop, moved);
            done += static_cast<std::int32_t>(moved);
            if (!complete || moved == 0) {
                break;
            }
        }
        return done;
    }

    // Starts one overlapped operation and waits until it completes, the time-out runs out or the
    // stop signal is set; an operation started after the stop ends at once. True when it
    // completed. A pending operation is cancelled and its end waited for before its buffer and
    // record are left: a driver that never ends it keeps this thread here, and the transfer
    // attempt leaves the thread behind. A driver's write time-out shows as ERROR_SEM_TIMEOUT, a
    // cancelled operation as ERROR_OPERATION_ABORTED, each with the count moved so far.
    template <typename Start>
    bool Run(Start start, DWORD timeout, const StopSignal& stop, DWORD& moved) {
        moved = 0;
        OVERLAPPED record{};
        if (stop.IsSet() ||
            (record.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
            return false;
        }
        bool waited = true;
        if (!start(&record)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                CloseHandle(record.hEvent);
                return false;
            }
            // A signal whose event could not be made (the channel's own, which nothing stops, in
            // a process out of handles) is not waited for.
            const HANDLE waits[2] = {record.hEvent, reinterpret_cast<HANDLE>(stop.WaitHandle())};
            waited = WaitForMultipleObjects(stop.Ready() ? 2 : 1, waits, FALSE, timeout) ==
                     WAIT_OBJECT_0;
            if (!waited) {
                CancelIoEx(handle_, &record);
            }
        }
        const bool complete = GetOverlappedResult(handle_, &record, &moved, TRUE) && waited;
        CloseHandle(record.hEvent);
        return complete;
    }

    const HANDLE handle_;
    const HANDLE portLock_;
};

// The port for this program alone, also where the system does not keep it so: Wine's server
// enforces no share mode on devices, and a second configurator would open the port too, and both
// would write. A named mutex per port name, held while the port is open, refuses every other
// opener of ours (on Windows the open without sharing refuses it as well). Port names are
// compared without case, as Windows compares them. Null when another opener holds it.
HANDLE LockPortName(const Text& devicePath) {
    std::wstring name = L"Local\\Taktor port ";
    for (char16_t c : devicePath) {
        if (c == u'\\') {
            c = u'/';  // the one character a name may not hold
        } else if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
        name += static_cast<wchar_t>(c);
    }
    const HANDLE lock = CreateMutexW(nullptr, FALSE, name.c_str());
    if (lock != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(lock);
        return nullptr;
    }
    return lock;
}

// Configures the port as the settings say; false when the port refuses its state.
bool Configure(HANDLE handle, const LineSettings& settings) {
    if (settings.inputQueue > 0 && settings.outputQueue > 0) {
        SetupComm(handle, static_cast<DWORD>(settings.inputQueue),
                  static_cast<DWORD>(settings.outputQueue));
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle, &dcb)) {
        return false;
    }
    ApplyLineSettings(dcb, settings);
    if (!SetCommState(handle, &dcb)) {
        return false;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(kWriteTimeoutPerByte.count());
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(kWriteTimeoutExtra.count());
    SetCommTimeouts(handle, &timeouts);
    return true;
}

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath, const LineSettings& settings,
                                               const StopSignal& stop) {
    const HANDLE portLock = LockPortName(devicePath);
    if (portLock == nullptr) {
        return nullptr;
    }
    // A hung open is cancelled with the thread's synchronous I/O, the configuration calls (which
    // wait for their requests on the overlapped handle) with the requests of the handle.
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (stop.Enter()) {
        const std::wstring path(devicePath.begin(), devicePath.end());
        handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        stop.Leave();
    }
    if (handle == INVALID_HANDLE_VALUE) {
        CloseHandle(portLock);
        return nullptr;
    }
    auto device = std::make_unique<WinSerialDevice>(handle, portLock);
    if (!stop.Enter(reinterpret_cast<std::intptr_t>(handle))) {
        return nullptr;
    }
    const bool configured = Configure(handle, settings);
    stop.Leave();
    return configured ? std::move(device) : nullptr;
}

}  // namespace taktor
