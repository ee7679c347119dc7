#include "link/line_settings.h"

namespace taktor {

void ApplyLineSettings(PortConfig& config, const LineSettings& settings) {
    config.baudRate = static_cast<std::uint32_t>(settings.baudRate);
    // Parity checking is switched on whatever the parity: with no parity it has no effect.
    config.parityCheck = true;
    config.parity = static_cast<std::uint8_t>(settings.parity & 0xFF);
    config.byteSize = static_cast<std::uint8_t>(settings.dataBits & 0xFF);
    if (settings.stopBits == 1.0f) {
        config.stopBits = 0;
    } else if (settings.stopBits == 2.0f) {
        config.stopBits = 2;
    } else {
        config.stopBits = 1;
    }

    switch (settings.handshake) {
        case 0:
            config.outxCtsFlow = false;
            config.rtsControl = 0;
            break;
        case 1:
            config.outxCtsFlow = false;
            config.rtsControl = 1;
            break;
        case 2:
            config.outxCtsFlow = true;
            config.rtsControl = 2;
            break;
        case 3: {
            const std::int32_t tenth = settings.inputQueue / 10;
            config.outX = true;
            config.inX = true;
            config.xonChar = 0x11;
            config.xoffChar = 0x13;
            config.xonLim = static_cast<std::uint16_t>(tenth);
            config.xoffLim = static_cast<std::uint16_t>(7 * tenth);
            break;
        }
        default:
            break;
    }
}

}  // namespace taktor
