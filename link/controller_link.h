// The controller link of one run of the configurator: the serial channel table and the transfer
// attempt, with every thread they start to work on a port.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "common/message_dialog.h"
#include "common/text.h"
#include "common/worker.h"
#include "link/frame.h"
#include "link/serial_channel.h"
#include "link/serial_device.h"

namespace taktor {

// The outcome of one transfer attempt.
enum class TransferResult : std::uint8_t {
    Confirmed = 0,
    Aborted = 1,
    Stalled = 2,
    Unconfirmed = 3,
};

// A single read never asks the channel for more than this.
constexpr int kReceiveBufferSize = 201;

// A driver that does not let go is handled by one rule: a device that a thread is still using
// inside a driver belongs to that thread. Opening and configuring a port, each worker of an
// attempt and closing a port run on a thread of their own that holds its own reference to the
// device; the main thread waits for it within the limits of link/write_timing.h and then walks
// away, never destroying a device itself. Every such thread marks its port as held until it has
// returned and let go of what it holds, so a close counts as done only once the port's handle
// is closed. Between its own operations the main thread asks one set of held ports whether a
// port is held: such a port is not opened again, and no attempt sends to it.
class ControllerLink {
public:
    // Devices come from opener: the platform's backend, or a test's own.
    explicit ControllerLink(SerialDeviceOpener opener = OpenSerialDevice);
    // Closes every channel, as CloseAllChannels does.
    ~ControllerLink();
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    // The serial channel. Devices are kept under channel numbers; one lock guards the table and
    // is never held during an operation of a device.
    //
    // Opens the port named by portName (nullptr: absent) as the given channel. On success
    // returns a value of at least 1, replacing (and only then closing) a device the channel
    // already held; on failure returns 0 and leaves the table as it was. A held port is refused
    // without being opened; an open that outlasts its limit is cancelled and fails.
    ChannelHandle OpenChannel(int channel, const Text* portName, const LineSettings& settings);
    int IsChannelOpen(int channel) const;
    // Empties the channel's entry and closes its port off this thread; while a thread walked
    // away from still uses the device, the port closes when that thread lets go of it.
    void CloseChannel(int channel);
    void CloseAllChannels();
    // The operations of the channel's device on the caller's thread, 0 when the channel is not
    // open (SerialDevice).
    std::int32_t AvailableInput(int channel);
    std::int32_t ReadChannel(int channel, void* buffer, std::int32_t length);
    std::int32_t WriteChannel(int channel, const void* buffer, std::int32_t length);

    // Sends the durations to the controller on ControllerChannel, which the caller has opened,
    // and classifies its reply; may ask the damage questions. Apart from those, its waits add up
    // to at most kAttemptBound. Its workers use this attempt's device and state only.
    TransferResult TransferAttempt(const PhaseDurations& durations, MessageDialog& messages);

private:
    struct HeldPorts;
    // An open device and the path it was opened on.
    struct Entry {
        std::shared_ptr<SerialDevice> device;
        Text path;
    };

    Entry EntryOf(int channel) const;
    // Puts entry under the channel (an empty one closes nothing) and returns what was there; the
    // table grows only for a device.
    Entry Exchange(int channel, Entry entry);
    // True when no thread of ours works on the port of path within the time-out.
    bool PortFree(const Text& path, std::chrono::milliseconds timeout);
    // Starts body on worker, the port of path marked as held until body has returned and what
    // it owns is released. False when no thread could be started.
    bool StartOnPort(Worker& worker, const Text& path, std::function<void()> body);
    // Drops the table's reference to a device on a thread of its own, within kCloseWait.
    void Close(Entry entry);

    // The channel table, guarded by tableLock_.
    mutable std::mutex tableLock_;
    std::vector<Entry> entries_;
    const SerialDeviceOpener opener_;
    // Shared with every thread that works on a port, which may outlive the link.
    const std::shared_ptr<HeldPorts> held_;
    // Given to the channel's operations on the caller's thread, which nothing stops.
    const StopSignal neverStopped_;
};

}  // namespace taktor
