// One transfer attempt: the parameter frame out, the controller's reply in, and what it means.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "common/message_port.h"
#include "common/text.h"

namespace taktor {

using PhaseDurations = std::array<std::uint16_t, 8>;

// The 18-byte request: the eight durations and their sum modulo 65,536, each a 16-bit word
// sent least significant byte first.
constexpr int kFrameWords = 9;
constexpr int kFrameBytes = 2 * kFrameWords;
using FrameWords = std::array<std::uint16_t, kFrameWords>;
using ParameterFrame = std::array<std::uint8_t, kFrameBytes>;

std::uint16_t FrameChecksum(const PhaseDurations& durations);
FrameWords FrameWordsOf(const PhaseDurations& durations);
ParameterFrame WireBytes(const FrameWords& words);

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
// and classifies its reply. May ask the damage questions through messages.
TransferResult TransferAttempt(const PhaseDurations& durations, MessagePort& messages);

// Waits for a frame writer that a stalled attempt left finishing its write (bounded by the
// channel's write time-out). Called before the channel is used again or closed.
void FinishPendingWriter();

// A function that every reply reader runs first, in its own thread; empty for none. Lets a test
// stand in for a reader thread that the system starts late.
void SetReaderStartHook(std::function<void()> hook);

// The text of the last reply (DeviceReply), as the last reader left it.
Text LastDeviceReply();

// The text one chunk of reply bytes adds: the bytes up to the first zero byte, through the
// system's 8-bit code page.
Text ReplyChunkText(const std::uint8_t* bytes, int count);

// The platform's 8-bit code page conversion (one character per byte for ASCII).
Text AnsiBytesToText(const std::uint8_t* bytes, int count);

}  // namespace taktor
