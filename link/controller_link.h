// The controller link of one run of the configurator: the serial channel table and everything a
// write command's work on the port needs, in one owner.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "common/message_dialog.h"
#include "common/text.h"
#include "common/worker.h"
#include "link/frame.h"
#include "link/serial_channel.h"
#include "link/serial_device.h"
#include "link/transfer.h"

namespace taktor {

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
    // Opens the port named by portName (nullptr: absent) as the given channel. On success returns
    // a value of at least 1, replacing (and only then closing) a device the channel already
    // held; on failure returns 0 and leaves the table as it was. A port whose driver still holds
    // a stopped worker of this link is refused without being opened. Opening and configuring
    // run on a worker within the grace period: an open that hangs in the driver fails.
    ChannelHandle OpenChannel(int channel, const Text* portName, const LineSettings& settings);
    ChannelHandle OpenChannel(int channel, const Text* portName, std::int32_t baudRate,
                              std::int32_t parity, std::int32_t dataBits, float stopBits,
                              std::int32_t handshake, std::int32_t inputQueue,
                              std::int32_t outputQueue);
    int IsChannelOpen(int channel) const;
    // Empties the channel's entry. Its port closes on a worker within the grace period, or,
    // while a stopped worker still uses the device, when that worker lets go of it.
    void CloseChannel(int channel);
    void CloseAllChannels();
    // The operations of the channel's device, 0 when the channel is not open (SerialDevice).
    std::int32_t AvailableInput(int channel);
    std::int32_t ReadChannel(int channel, void* buffer, std::int32_t length);
    std::int32_t WriteChannel(int channel, const void* buffer, std::int32_t length);

    // A new grace period (link/write_timing.h): at the start of every write command, and
    // before the channels are closed at shutdown.
    void StartGracePeriod();

    // Sends the durations to the controller on the controller channel, which the caller has
    // opened, and classifies its reply; may ask the damage questions. Apart from those, the
    // time-outs of its waits add up to kAttemptBound plus what it takes of the grace period. Its
    // workers use the device of this attempt only. Those it stops have their operations ended
    // through the attempt's stop signal; one that does not return within the grace period is
    // left inside the driver, and until it returns no attempt uses that device, nor, until the
    // device is closed, is its port opened again.
    TransferResult TransferAttempt(const PhaseDurations& durations, MessageDialog& messages);

private:
    friend class LinkTestAccess;  // link/testing/link_testing.h

    using Clock = std::chrono::steady_clock;
    struct Attempt;
    // A worker that was stopped but has not returned from its driver, with the device it is
    // in. The link holds the device weakly: the worker's own reference is the one that closes
    // it, on the worker's thread.
    struct Leftover {
        Worker worker;
        std::weak_ptr<SerialDevice> device;
        Text path;
    };
    // An open device and the path it was opened on.
    struct Entry {
        std::shared_ptr<SerialDevice> device;
        Text path;
    };

    Entry EntryOf(int channel) const;

    // Waits up to nominal, then at most what is left of the grace period, which the extra wait
    // uses up: wait(timeout) is true when what it waits for came within the time-out. True when
    // it came.
    bool WaitWithGrace(const std::function<bool(std::chrono::milliseconds)>& wait,
                       std::chrono::milliseconds nominal);
    bool WaitWithGrace(Worker& worker, std::chrono::milliseconds nominal);
    // Runs body on a worker and waits for it within the grace period; a body still running is
    // abandoned. False also when no worker could be started.
    bool RunWithGrace(std::function<void()> body);
    // Drops the link's reference to a device; if it was the last, the port closes on a worker.
    void Release(std::shared_ptr<SerialDevice> device);
    // Forgets leftovers that have returned; true when one is still inside a device of path.
    bool PortHeld(const Text& path);
    // Waits until no leftover is inside device, until deadline and then within the grace period.
    bool Settle(const std::shared_ptr<SerialDevice>& device, Clock::time_point deadline);
    // Sets the attempt's stop signal and waits for the workers within the grace period; one that
    // has not ended then becomes a leftover.
    void StopWorkers(Attempt& attempt, std::initializer_list<Worker*> workers);
    // The attempt's two workers: one writes the frame, one collects the reply until its
    // terminator or its stop flag.
    static void FrameWriter(Attempt& attempt, const ParameterFrame& bytes);
    static void ReplyReader(Attempt& attempt);
    // Drops the input waiting on the attempt's device and tells the main thread so; on the
    // writer's thread, before the frame goes out.
    static void DrainInput(Attempt& attempt);

    // The channel table. Guarded by tableLock_; everything below it belongs to the thread that
    // runs the write commands (the main thread).
    mutable std::mutex tableLock_;
    std::vector<Entry> entries_;
    const SerialDeviceOpener opener_;
    // Given to the operations of the channel, which nothing stops.
    const StopSignal neverStopped_;

    std::chrono::milliseconds graceLeft_;
    std::vector<Leftover> leftovers_;

    // The frame of the current attempt, written before FrameWriter starts.
    FrameWords FrameStorage{};
    // The reply of the last reader that ended by itself.
    Text DeviceReply;
    // The last attempt's reader stop flag, as that attempt left it.
    int ReaderStopFlag = 0;

    // Run by every writer just before its frame goes out, and by every reader before its first
    // poll, on the worker's own thread, with what stops it (tests only).
    using WorkerHook =
        std::function<void(const std::atomic<int>& readerStopFlag, const StopSignal& stop)>;
    WorkerHook writerStartHook_;
    WorkerHook readerStartHook_;
};

}  // namespace taktor
