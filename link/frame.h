// The parameter frame: the eight phase durations and their checksum as the controller takes
// them, 18 bytes on the wire with nothing around them.
#pragma once

#include <array>
#include <cstdint>

namespace taktor {

// The eight durations in phase order ("Такт 1" first), each a 16-bit value.
using PhaseDurations = std::array<std::uint16_t, 8>;

// The frame as it goes on the wire: nine 16-bit words, the durations and then their checksum,
// each least significant byte first whatever the byte order of the machine.
constexpr int kFrameBytes = 18;
using ParameterFrame = std::array<std::uint8_t, kFrameBytes>;

// The checksum is the sum of the durations modulo 65,536.
ParameterFrame ParameterFrameOf(const PhaseDurations& durations);

}  // namespace taktor
