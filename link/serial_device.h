// What the channel table needs of one open serial port, and what stops its operations; one
// backend per platform.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "common/text.h"
#include "link/serial_channel.h"

namespace taktor {

// The stop of one thread's work on a port: once set, every operation given the signal returns at
// once, and so does every one that starts later. It is never cleared, so each attempt (and each
// open) has its own, and a thread that wakes late can stop only its own work.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // False when the platform could not make the object that waits watch; such a signal cannot
    // end a wait and must not be given to an operation.
    bool Ready() const;

    // Any thread, any number of times.
    void Set();
    bool IsSet() const { return set_.load(); }

    // What the backends' waits watch: a manual-reset event on Windows, signalled once set; an
    // event counter elsewhere, readable once set.
    std::intptr_t WaitHandle() const { return wait_; }

    // Brackets a blocking call that no wait watches (opening a port, configuring it), made by
    // the calling thread; file is the platform handle the call works on, or 0 for a call that
    // opens one. While inside, Set() from another thread cancels the call where the platform
    // allows it (Windows: CancelSynchronousIo on the thread, or CancelIoEx on the handle). False,
    // and nothing to leave, when the signal is set already.
    // One thread per signal.
    bool Enter(std::intptr_t file = 0) const;
    void Leave() const;

private:
    std::atomic<bool> set_{false};
    std::intptr_t wait_ = -1;

#ifdef _WIN32
    // The blocking call in progress.
    mutable std::mutex callLock_;
    mutable std::intptr_t call_ = -1;   // -1 none, 0 an open, else the handle given to Enter
    mutable std::intptr_t thread_ = 0;  // a handle of the calling thread that may cancel its I/O
#endif
};

// Every operation returns at once when its stop signal is set, or becomes set while it waits;
// the count it returns is then what it had done by that time. Operations of different threads
// may run at the same time. Destroying the device closes the port, which may take long in a
// broken driver: the ControllerLink does it on a thread of its own, never on the main thread.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // The value OpenChannel returns for this device; never 0.
    virtual ChannelHandle Handle() const = 0;

    // Received bytes waiting in the input queue; never waits for input and never reports more
    // than is there. 0 when the status query fails.
    virtual std::int32_t QueuedInput(const StopSignal& stop) = 0;
    // Reads exactly length bytes, waiting as long as that takes. The count read, which is less
    // than length only when the read failed or was stopped.
    virtual std::int32_t Read(void* buffer, std::int32_t length, const StopSignal& stop) = 0;
    // Writes length bytes, giving up after the write time-out (link/write_timing.h). The count
    // written, also when the write failed or was stopped after some bytes went out.
    virtual std::int32_t Write(const void* buffer, std::int32_t length, const StopSignal& stop) = 0;
};

// Opens the device at devicePath ("\\.\" and the port name) for this program alone and
// configures it, or returns nullptr; a stop ends an open that hangs, where the platform allows.
using SerialDeviceOpener = std::function<std::unique_ptr<SerialDevice>(
    const Text& devicePath, const LineSettings&, const StopSignal& stop)>;

// The platform backend. Configuration failures close the device again.
std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath, const LineSettings& settings,
                                               const StopSignal& stop);

}  // namespace taktor
