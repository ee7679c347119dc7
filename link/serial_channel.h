// The serial channel's vocabulary: channel numbers, the values an open returns, the line
// settings and the device path of a port name. The channel table itself belongs to the
// ControllerLink (link/controller_link.h).
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

}  // namespace taktor
