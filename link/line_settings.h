// How the line settings given to OpenChannel change the port configuration read from the driver.
#pragma once

#include <cstdint>

#include "link/serial_channel.h"

namespace taktor {

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

// Applies the line settings to the configuration read from the driver; every field they do not
// name keeps the driver's value.
void ApplyLineSettings(PortConfig& config, const LineSettings& settings);

}  // namespace taktor
