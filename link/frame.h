// The parameter frame: the eight phase durations and their checksum as the controller takes
// them, 18 bytes on the wire with nothing around them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace taktor {

// The eight durations in phase order ("Такт 1" first), each a 16-bit value.
using PhaseDurations = std::array<std::uint16_t, 8>;

// The frame as nine 16-bit words: the durations, then their checksum.
constexpr int kFrameWords = 9;
constexpr int kFrameBytes = 2 * kFrameWords;
using FrameWords = std::array<std::uint16_t, kFrameWords>;
using ParameterFrame = std::array<std::uint8_t, kFrameBytes>;

// The durations, then their sum modulo 65,536 as the checksum.
FrameWords FrameWordsOf(const PhaseDurations& durations);
// Every word least significant byte first, whatever the byte order of the machine.
ParameterFrame WireBytes(const FrameWords& words);

}  // namespace taktor
