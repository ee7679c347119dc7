// What the channel table needs of one open serial port; one backend per platform.
#pragma once

#include <cstdint>
#include <functional>
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
    virtual void Cancel(IoSide side) = 0;
    virtual void Resume() = 0;
};

// The fields of the Windows device control block that opening a channel changes or keeps; a
// POSIX backend maps them onto termios.
struct PortConfig {
    std::uint32_t baudRate = 0;
    bool parityCheck = false;  // fParity
    std::uint8_t parity = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool outxCtsFlow = false;
    std::uint8_t rtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool outX = false;
    bool inX = false;
    char xonChar = 0x11;
    char xoffChar = 0x13;
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
};

// Applies the line settings to the configuration read from the driver.
void ApplyLineSettings(PortConfig& config, const LineSettings& settings);

// The platform backend: opens and configures the device at devicePath ("\\.\" and the port
// name), or returns nullptr. Configuration failures close the device again.
std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath,
                                               const LineSettings& settings);

// Tests replace the backend with their own devices; an empty function restores the platform's.
using SerialDeviceOpener =
    std::function<std::unique_ptr<SerialDevice>(const Text& devicePath, const LineSettings&)>;
void SetSerialDeviceOpener(SerialDeviceOpener opener);

}  // namespace taktor
