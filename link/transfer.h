// One transfer attempt's outcome and sizes; the attempt itself is ControllerLink::TransferAttempt.
#pragma once

#include <cstdint>

namespace taktor {

enum class TransferResult : std::uint8_t {
    Confirmed = 0,
    Aborted = 1,
    Stalled = 2,
    Unconfirmed = 3,
};

// A single read never asks the channel for more than this.
constexpr int kReceiveBufferSize = 201;

}  // namespace taktor
