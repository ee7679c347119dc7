// What the channel table needs of one open serial port; one backend per platform.
#pragma once

#include <cstdint>
#include <memory>

#include "common/text.h"
#include "link/serial_channel.h"

namespace taktor {

class SerialDevice {
public:
    virtual ~SerialDevice() = default;  // closes the port

    // The value OpenChannel returns for this device; never 0.
    virtual ChannelHandle Handle() const = 0;

    // See AvailableInput, ReadChannel and WriteChannel.
    virtual std::int32_t QueuedInput() = 0;
    virtual std::int32_t Read(void* buffer, std::int32_t length) = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t length) = 0;

    // See CancelChannelIo and ResumeChannelIo. Safe to call from any thread at any time.
    virtual void Cancel() = 0;
    virtual void Resume() = 0;
};

// The platform backend: opens and configures the device at devicePath ("\\.\" and the port
// name), or returns nullptr. Configuration failures close the device again.
std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath,
                                               const LineSettings& settings);

}  // namespace taktor
