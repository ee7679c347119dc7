// What the channel table needs of one open serial port; one backend per platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "common/text.h"
#include "link/serial_channel.h"
#include "link/stop_signal.h"

namespace taktor {

// Every operation returns at once when its stop signal is set, or becomes set while it waits;
// the count it returns is then what it had done by that time. Operations of different threads
// may run at the same time. Destroying the device closes the port, which may take long in a
// broken driver: the ControllerLink never does it on the main thread.
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

// Opens and configures the device at devicePath ("\\.\" and the port name), or returns nullptr.
using SerialDeviceOpener =
    std::function<std::unique_ptr<SerialDevice>(const Text& devicePath, const LineSettings&)>;

// The platform backend. Configuration failures close the device again.
std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath,
                                               const LineSettings& settings);

}  // namespace taktor
