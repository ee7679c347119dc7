// The serial device on Windows: an overlapped handle, so that a status query or read on one
// thread never waits behind a write on another and a pending operation can be cancelled; the
// blocking behaviour of the channel is built from waits on the operations' events.
#include <windows.h>

#include <climits>
#include <memory>
#include <string>

#include "link/line_settings.h"
#include "link/serial_device.h"

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
    explicit WinSerialDevice(HANDLE handle)
        : handle_(handle), cancel_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~WinSerialDevice() override {
        CloseHandle(handle_);
        if (cancel_ != nullptr) {
            CloseHandle(cancel_);
        }
    }

    bool Ready() const { return cancel_ != nullptr; }

    ChannelHandle Handle() const override { return reinterpret_cast<ChannelHandle>(handle_); }

    std::int32_t QueuedInput() override {
        if (IsCancelled()) {
            return 0;
        }
        // On a handle opened for overlapped I/O the status query is an operation of the handle
        // too, so the CancelIoEx of Cancel ends one that hangs in the driver.
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            return 0;
        }
        return status.cbInQue > INT_MAX ? INT_MAX : static_cast<std::int32_t>(status.cbInQue);
    }

    std::int32_t Read(void* buffer, std::int32_t length) override {
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::int32_t done = 0;
        // With all read time-outs 0 the driver completes a read only when it is full; the loop
        // covers drivers that hand over what they have.
        while (done < length) {
            DWORD n = 0;
            if (Transfer(false, bytes + done, static_cast<DWORD>(length - done), INFINITE, n) !=
                Outcome::Complete) {
                return 0;
            }
            if (n == 0) {
                return 0;
            }
            done += static_cast<std::int32_t>(n);
        }
        return done;
    }

    std::int32_t Write(const void* buffer, std::int32_t length) override {
        // The driver's own write time-out is set as well, but not every driver applies it to an
        // overlapped write, so the wait is bounded here.
        const ULONGLONG limit = 100ULL * static_cast<ULONGLONG>(length) + 10;
        const ULONGLONG deadline = GetTickCount64() + limit;
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        std::int32_t done = 0;
        while (done < length) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                break;
            }
            DWORD n = 0;
            const Outcome outcome =
                Transfer(true, const_cast<unsigned char*>(bytes + done),
                         static_cast<DWORD>(length - done), static_cast<DWORD>(deadline - now), n);
            done += static_cast<std::int32_t>(n);
            if (outcome == Outcome::Cancelled || outcome == Outcome::Failed) {
                return 0;
            }
            if (outcome == Outcome::TimedOut || n == 0) {
                break;
            }
        }
        return done;
    }

    void Cancel() override {
        SetEvent(cancel_);
        CancelIoEx(handle_, nullptr);
    }

    void Resume() override { ResetEvent(cancel_); }

private:
    enum class Outcome { Complete, TimedOut, Cancelled, Failed };

    bool IsCancelled() const { return WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0; }

    // One overlapped read or write, waited for until it completes, the wait runs out or the
    // device is cancelled. A pending operation is cancelled and its end waited for before its
    // buffer and record are left: a driver that never ends it keeps this thread here, and the
    // transfer attempt abandons the thread (link/worker.h).
    Outcome Transfer(bool writing, unsigned char* buffer, DWORD count, DWORD timeout,
                     DWORD& transferred) {
        transferred = 0;
        if (IsCancelled()) {
            return Outcome::Cancelled;
        }
        const auto operation = std::make_unique<Operation>();
        if (!operation->Ready()) {
            return Outcome::Failed;
        }
        OVERLAPPED* record = operation->Record();
        const BOOL started = writing ? WriteFile(handle_, buffer, count, nullptr, record)
                                     : ReadFile(handle_, buffer, count, nullptr, record);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return Outcome::Failed;
        }

        Outcome outcome = Outcome::Complete;
        if (!started) {
            const HANDLE waits[2] = {record->hEvent, cancel_};
            const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, timeout);
            if (woken != WAIT_OBJECT_0) {
                outcome = woken == WAIT_OBJECT_0 + 1 ? Outcome::Cancelled
                          : woken == WAIT_TIMEOUT    ? Outcome::TimedOut
                                                     : Outcome::Failed;
                CancelIoEx(handle_, record);
            }
        }
        if (GetOverlappedResult(handle_, record, &transferred, TRUE)) {
            return outcome;
        }
        const DWORD error = GetLastError();
        if (outcome != Outcome::Complete) {
            return outcome;
        }
        if (error == ERROR_OPERATION_ABORTED && IsCancelled()) {
            return Outcome::Cancelled;
        }
        // A driver's write time-out shows as this error, with the count written so far.
        return writing && error == ERROR_SEM_TIMEOUT ? Outcome::TimedOut : Outcome::Failed;
    }

    HANDLE handle_;
    HANDLE cancel_;
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
    if (!device->Ready()) {
        return nullptr;
    }

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
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 10;
    SetCommTimeouts(handle, &timeouts);
    return device;
}

}  // namespace taktor
