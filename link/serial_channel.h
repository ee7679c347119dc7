// The serial channel's vocabulary: channel numbers, the values an open returns, the line
// settings and how they change a port's configuration, and the device path of a port name. The
// channel table itself belongs to the ControllerLink (link/controller_link.h).
#pragma once

#include <cstdint>

#include "common/text.h"

namespace taktor {

// Non-zero while a channel is open: the device handle on Windows, an opaque positive value
// elsewhere.
using ChannelHandle = std::intptr_t;

// The only channel the configurator opens.
constexpr int ControllerChannel = 0;

struct LineSettings {
    std::int32_t baudRate;
    std::int32_t parity;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::int32_t dataBits;
    float stopBits;          // exactly 1.0 or 2.0; anything else means one and a half
    std::int32_t handshake;  // 0 none, 1 RTS on, 2 RTS/CTS, 3 XON/XOFF, other: flow left alone
    std::int32_t inputQueue;
    std::int32_t outputQueue;
};

// 9600 baud, 8N1, no handshake, 255-byte queues.
constexpr LineSettings ControllerLineSettings = {9600, 0, 8, 1.0f, 0, 255, 255};

// "\\.\" followed by at most the first 59 characters of the port name.
Text DevicePath(const Text& portName);

// The fields of the Windows device control block (DCB) that opening a channel changes or keeps,
// under the DCB's own names: ApplyLineSettings works on a DCB itself on Windows, and on this copy
// of its fields elsewhere, which the POSIX backend maps onto termios.
struct PortConfig {
    std::uint32_t BaudRate = 0;
    bool fParity = false;  // parity checking
    std::uint8_t Parity = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    bool fOutxCtsFlow = false;
    std::uint8_t fRtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool fOutX = false;
    bool fInX = false;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
};

// Applies the line settings to the configuration read from the driver; every field they do not
// name keeps the driver's value.
template <typename Dcb>
void ApplyLineSettings(Dcb& dcb, const LineSettings& settings) {
    dcb.BaudRate = static_cast<std::uint32_t>(settings.baudRate);
    // Parity checking is switched on whatever the parity: with no parity it has no effect.
    dcb.fParity = true;
    dcb.Parity = static_cast<std::uint8_t>(settings.parity & 0xFF);
    dcb.ByteSize = static_cast<std::uint8_t>(settings.dataBits & 0xFF);
    dcb.StopBits = settings.stopBits == 1.0f ? 0 : settings.stopBits == 2.0f ? 2 : 1;
    if (settings.handshake >= 0 && settings.handshake <= 2) {
        // 0: RTS held off, 1: held on, 2: RTS/CTS handshake.
        dcb.fOutxCtsFlow = settings.handshake == 2;
        dcb.fRtsControl = static_cast<std::uint8_t>(settings.handshake);
    } else if (settings.handshake == 3) {
        const std::int32_t tenth = settings.inputQueue / 10;
        dcb.fOutX = true;
        dcb.fInX = true;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = static_cast<std::uint16_t>(tenth);
        dcb.XoffLim = static_cast<std::uint16_t>(7 * tenth);
    }
}

}  // namespace taktor
