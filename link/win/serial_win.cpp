// The serial device on Windows: an overlapped handle, so that a status query or read on one
// thread never waits behind a write on another and a pending operation can be cancelled; the
// blocking behaviour of the channel is built from waits on the operations' events and the
// attempt's stop signal.
#include <windows.h>
#include <winioctl.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <string>

#include "link/line_settings.h"
#include "link/serial_device.h"
#include "link/write_timing.h"

namespace taktor {

namespace {

PortConfig ConfigFromDcb(const DCB& dcb) {
    PortConfig config;
    config.baudRate = dcb.BaudRate;
    config.parityCheck = dcb.fParity != 0;
    config.parity = dcb.Parity;
    config.byteSize = dcb.ByteSize;
    config.stopBits = dcb.StopBits;
    config.outxCtsFlow = dcb.fOutxCtsFlow != 0;
    config.rtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
    config.outX = dcb.fOutX != 0;
    config.inX = dcb.fInX != 0;
    config.xonChar = dcb.XonChar;
    config.xoffChar = dcb.XoffChar;
    config.xonLim = dcb.XonLim;
    config.xoffLim = dcb.XoffLim;
    return config;
}

void ConfigToDcb(const PortConfig& config, DCB& dcb) {
    dcb.BaudRate = config.baudRate;
    dcb.fParity = config.parityCheck ? 1 : 0;
    dcb.Parity = config.parity;
    dcb.ByteSize = config.byteSize;
    dcb.StopBits = config.stopBits;
    dcb.fOutxCtsFlow = config.outxCtsFlow ? 1 : 0;
    dcb.fRtsControl = config.rtsControl & 3;
    dcb.fOutX = config.outX ? 1 : 0;
    dcb.fInX = config.inX ? 1 : 0;
    dcb.XonChar = config.xonChar;
    dcb.XoffChar = config.xoffChar;
    dcb.XonLim = config.xonLim;
    dcb.XoffLim = config.xoffLim;
}

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

// One overlapped operation: its record and event on the heap, closed on every way out, and
// left only when the driver has finished with them.
class Operation {
public:
    Operation() { record_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Operation() {
        if (record_.hEvent != nullptr) {
            CloseHandle(record_.hEvent);
        }
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    bool Ready() const { return record_.hEvent != nullptr; }
    OVERLAPPED* Record() { return &record_; }

private:
    OVERLAPPED record_{};
};

class WinSerialDevice : public SerialDevice {
public:
    explicit WinSerialDevice(HANDLE handle) : handle_(handle) {}
    ~WinSerialDevice() override { CloseHandle(handle_); }

    ChannelHandle Handle() const override { return reinterpret_cast<ChannelHandle>(handle_); }

    std::int32_t QueuedInput(const StopSignal& stop) override {
        SerialStatus status{};
        DWORD got = 0;
        const Outcome outcome = Run(
            [&](OVERLAPPED* record) {
                return DeviceIoControl(handle_, kGetCommStatus, nullptr, 0, &status, sizeof(status),
                                       nullptr, record);
            },
            INFINITE, stop, got);
        if (outcome != Outcome::Complete || got < offsetof(SerialStatus, amountInOutQueue)) {
            return 0;
        }
        return status.amountInInQueue > INT_MAX ? INT_MAX
                                                : static_cast<std::int32_t>(status.amountInInQueue);
    }

    std::int32_t Read(void* buffer, std::int32_t length, const StopSignal& stop) override {
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::int32_t done = 0;
        // With all read time-outs 0 the driver completes a read only when it is full; the loop
        // covers drivers that hand over what they have.
        while (done < length) {
            DWORD n = 0;
            const Outcome outcome = Run(
                [&](OVERLAPPED* record) {
                    return ReadFile(handle_, bytes + done, static_cast<DWORD>(length - done),
                                    nullptr, record);
                },
                INFINITE, stop, n);
            done += static_cast<std::int32_t>(n);  // what came also before a failure or a stop
            if (outcome != Outcome::Complete || n == 0) {
                break;
            }
        }
        return done;
    }

    std::int32_t Write(const void* buffer, std::int32_t length, const StopSignal& stop) override {
        // The driver's own write time-out is set as well, but not every driver applies it to an
        // overlapped write, so the wait is bounded here.
        const ULONGLONG limit =
            static_cast<ULONGLONG>(kWriteTimeoutPerByte.count()) * static_cast<ULONGLONG>(length) +
            static_cast<ULONGLONG>(kWriteTimeoutExtra.count());
        const ULONGLONG deadline = GetTickCount64() + limit;
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        std::int32_t done = 0;
        while (done < length) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                break;
            }
            DWORD n = 0;
            const Outcome outcome = Run(
                [&](OVERLAPPED* record) {
                    return WriteFile(handle_, bytes + done, static_cast<DWORD>(length - done),
                                     nullptr, record);
                },
                static_cast<DWORD>(deadline - now), stop, n);
            done += static_cast<std::int32_t>(n);  // what went out also before a failure or a stop
            if (outcome != Outcome::Complete || n == 0) {
                break;
            }
        }
        return done;
    }

private:
    enum class Outcome { Complete, TimedOut, Stopped, Failed };

    // Starts one overlapped operation and waits until it completes, the time-out runs out or the
    // stop signal is set; an operation started after the stop ends at once. A pending operation
    // is cancelled and its end waited for before its buffer and record are left: a driver that
    // never ends it keeps this thread here, and the transfer attempt leaves the thread behind.
    template <typename Start>
    Outcome Run(Start start, DWORD timeout, const StopSignal& stop, DWORD& transferred) {
        transferred = 0;
        if (stop.IsSet()) {
            return Outcome::Stopped;
        }
        const auto operation = std::make_unique<Operation>();
        if (!operation->Ready()) {
            return Outcome::Failed;
        }
        OVERLAPPED* record = operation->Record();
        const BOOL started = start(record);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return Outcome::Failed;
        }

        Outcome outcome = Outcome::Complete;
        if (!started) {
            // A signal whose event could not be made (the channel's own, which nothing stops,
            // in a process out of handles) is not waited for.
            const HANDLE waits[2] = {record->hEvent, reinterpret_cast<HANDLE>(stop.WaitHandle())};
            const DWORD woken = WaitForMultipleObjects(stop.Ready() ? 2 : 1, waits, FALSE, timeout);
            if (woken != WAIT_OBJECT_0) {
                outcome = woken == WAIT_OBJECT_0 + 1 ? Outcome::Stopped
                          : woken == WAIT_TIMEOUT    ? Outcome::TimedOut
                                                     : Outcome::Failed;
                CancelIoEx(handle_, record);
            }
        }
        if (GetOverlappedResult(handle_, record, &transferred, TRUE)) {
            return outcome;
        }
        // A driver's write time-out shows as ERROR_SEM_TIMEOUT, with the count written so far;
        // a cancelled operation as ERROR_OPERATION_ABORTED, with what it had done.
        return outcome != Outcome::Complete ? outcome : Outcome::Failed;
    }

    HANDLE handle_;
};

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath,
                                               const LineSettings& settings) {
    const std::wstring path(devicePath.begin(), devicePath.end());
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto device = std::make_unique<WinSerialDevice>(handle);

    if (settings.inputQueue > 0 && settings.outputQueue > 0) {
        SetupComm(handle, static_cast<DWORD>(settings.inputQueue),
                  static_cast<DWORD>(settings.outputQueue));
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle, &dcb)) {
        return nullptr;
    }
    PortConfig config = ConfigFromDcb(dcb);
    ApplyLineSettings(config, settings);
    ConfigToDcb(config, dcb);
    if (!SetCommState(handle, &dcb)) {
        return nullptr;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(kWriteTimeoutPerByte.count());
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(kWriteTimeoutExtra.count());
    SetCommTimeouts(handle, &timeouts);
    return device;
}

}  // namespace taktor
