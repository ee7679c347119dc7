// One transfer attempt: the parameter frame out, the controller's reply in, and what it means.
#pragma once

#include <cstdint>

#include "common/message_dialog.h"
#include "link/frame.h"

namespace taktor {

enum class TransferResult : std::uint8_t {
    Confirmed = 0,
    Aborted = 1,
    Stalled = 2,
    Unconfirmed = 3,
};

// A single read never asks the channel for more than this.
constexpr int kReceiveBufferSize = 201;

// How long the attempt waits for each worker at each of its three waits.
constexpr int kWorkerWaitMs = 300;

// Allocates FrameStorage, zero-filled, once at start-up; released at shutdown.
void AllocateFrameStorage();
void ReleaseFrameStorage();

// Sends the durations to the controller on the controller channel, which the caller has opened,
// and classifies its reply. May ask the damage questions through messages. Apart from those,
// waits at most 900 ms plus what it takes of the grace period (link/worker.h); a worker that
// must be stopped has the channel's operations cancelled, and both workers end (or are left
// inside the channel) before it returns, so that no write is ever in progress after it.
TransferResult TransferAttempt(const PhaseDurations& durations, MessageDialog& messages);

}  // namespace taktor
