#include "link/frame.h"

namespace taktor {

FrameWords FrameWordsOf(const PhaseDurations& durations) {
    FrameWords words{};
    for (std::size_t i = 0; i < durations.size(); ++i) {
        words[i] = durations[i];
        words[kFrameWords - 1] = static_cast<std::uint16_t>(words[kFrameWords - 1] + durations[i]);
    }
    return words;
}

ParameterFrame WireBytes(const FrameWords& words) {
    ParameterFrame bytes{};
    for (int i = 0; i < kFrameWords; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
    }
    return bytes;
}

}  // namespace taktor
