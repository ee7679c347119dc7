// The serial channel: open serial ports kept under small channel numbers, shared by the main
// thread and the two workers of a transfer attempt.
#pragma once

#include <cstdint>

#include "common/text.h"

namespace taktor {

// Non-zero while a channel is open: the device handle on Windows, an opaque positive value
// elsewhere.
using ChannelHandle = std::intptr_t;

// The only channel the configurator opens.
constexpr int kControllerChannel = 0;

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
extern const LineSettings kControllerLineSettings;

// Creates the empty channel table. Called once at start-up, before any other operation.
void InitChannelTable();

// Opens the port named by portName (nullptr: absent) as the given channel. The device path is
// "\\.\" followed by at most the first 59 characters of the name. On success returns a value of
// at least 1, replacing (and only then closing) a device the channel already held; on failure
// returns 0 and leaves the table as it was. Opening, configuring and closing run on a worker
// within the grace period (link/worker.h): an open that hangs in the driver fails.
ChannelHandle OpenChannel(int channel, const Text* portName, std::int32_t baudRate,
                          std::int32_t parity, std::int32_t dataBits, float stopBits,
                          std::int32_t handshake, std::int32_t inputQueue,
                          std::int32_t outputQueue);
ChannelHandle OpenChannel(int channel, const Text* portName, const LineSettings& settings);

int IsChannelOpen(int channel);
// Empties the channel's entry at once. The port closes when no operation of another thread uses
// it any more: never under a read or write in progress.
void CloseChannel(int channel);
void CloseAllChannels();

// Received bytes waiting in the input queue; never waits and never reports more than is there.
// 0 when the channel is not open or the status query fails.
std::int32_t AvailableInput(int channel);

// Reads exactly length bytes, waiting as long as that takes. 0 when the channel is not open, the
// length is 0, the read failed or it was cancelled.
std::int32_t ReadChannel(int channel, void* buffer, std::int32_t length);

// Writes length bytes; gives up after 100 ms per byte plus 10 ms. Returns the count written, 0
// when the channel is not open or the write failed.
std::int32_t WriteChannel(int channel, const void* buffer, std::int32_t length);

// Makes the operations of the channel that are in progress on other threads return at once, and
// those that start later too, until ResumeChannelIo. This is how a worker that hangs in the
// channel is brought to an end so that it can be joined.
void CancelChannelIo(int channel);
void ResumeChannelIo(int channel);

// "\\.\" followed by at most the first 59 characters of the port name.
Text DevicePath(const Text& portName);

}  // namespace taktor
