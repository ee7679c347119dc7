#include "link/frame.h"

namespace taktor {

ParameterFrame ParameterFrameOf(const PhaseDurations& durations) {
    ParameterFrame frame{};
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i <= durations.size(); ++i) {
        const std::uint16_t word = i < durations.size() ? durations[i] : sum;
        sum = static_cast<std::uint16_t>(sum + word);
        frame[2 * i] = static_cast<std::uint8_t>(word & 0xFF);
        frame[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    return frame;
}

}  // namespace taktor
