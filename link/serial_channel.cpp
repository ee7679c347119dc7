// The channel table: open serial devices kept under small channel numbers, one lock around the
// table and no operation of a device under it.
#include "link/serial_channel.h"

#include <utility>

#include "link/controller_link.h"

namespace taktor {

const LineSettings kControllerLineSettings = {9600, 0, 8, 1.0f, 0, 255, 255};

namespace {

constexpr Text::size_type kMaxPortNameLength = 59;

}  // namespace

Text DevicePath(const Text& portName) {
    return u"\\\\.\\" + portName.substr(0, kMaxPortNameLength);
}

ControllerLink::Entry ControllerLink::EntryOf(int channel) const {
    std::lock_guard<std::mutex> guard(tableLock_);
    if (channel < 0 || static_cast<std::size_t>(channel) >= entries_.size()) {
        return {};
    }
    return entries_[static_cast<std::size_t>(channel)];
}

ChannelHandle ControllerLink::OpenChannel(int channel, const Text* portName,
                                          const LineSettings& settings) {
    if (portName == nullptr || channel < 0) {
        return 0;
    }
    const Text path = DevicePath(*portName);
    // The port is still taken by a worker stuck in its driver: an open would fail, or hang in
    // that same driver.
    if (PortHeld(path)) {
        return 0;
    }

    // The worker hands its device over unless the main thread has stopped waiting; then it
    // closes the device itself, so that no device is ever closed on the main thread.
    struct Handover {
        std::mutex lock;
        std::shared_ptr<SerialDevice> device;
        bool abandoned = false;
    };
    auto handover = std::make_shared<Handover>();
    const bool ended = RunWithGrace([handover, opener = opener_, path, settings] {
        std::shared_ptr<SerialDevice> device = opener(path, settings);
        std::lock_guard<std::mutex> guard(handover->lock);
        if (!handover->abandoned) {
            handover->device = std::move(device);
        }
        // An abandoned device is closed here, after the lock (locals go in reverse order).
    });
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard<std::mutex> guard(handover->lock);
        handover->abandoned = true;
        device = std::move(handover->device);
    }
    if (!ended || !device) {
        Release(std::move(device));  // opened just as the wait ran out
        return 0;
    }
    const ChannelHandle handle = device->Handle();

    Entry replaced;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        const auto index = static_cast<std::size_t>(channel);
        if (index >= entries_.size()) {
            entries_.resize(index + 1);
        }
        replaced = std::exchange(entries_[index], Entry{std::move(device), path});
    }
    Release(std::move(replaced.device));
    return handle;
}

ChannelHandle ControllerLink::OpenChannel(int channel, const Text* portName, std::int32_t baudRate,
                                          std::int32_t parity, std::int32_t dataBits,
                                          float stopBits, std::int32_t handshake,
                                          std::int32_t inputQueue, std::int32_t outputQueue) {
    const LineSettings settings = {baudRate,  parity,     dataBits,   stopBits,
                                   handshake, inputQueue, outputQueue};
    return OpenChannel(channel, portName, settings);
}

int ControllerLink::IsChannelOpen(int channel) const {
    return EntryOf(channel).device ? 1 : 0;
}

void ControllerLink::CloseChannel(int channel) {
    Entry closed;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        if (channel < 0 || static_cast<std::size_t>(channel) >= entries_.size()) {
            return;
        }
        closed = std::exchange(entries_[static_cast<std::size_t>(channel)], Entry{});
    }
    Release(std::move(closed.device));
}

void ControllerLink::CloseAllChannels() {
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        count = entries_.size();
    }
    for (std::size_t i = 0; i < count; ++i) {
        CloseChannel(static_cast<int>(i));
    }
}

std::int32_t ControllerLink::AvailableInput(int channel) {
    const Entry entry = EntryOf(channel);
    if (!entry.device) {
        return 0;
    }
    const std::int32_t queued = entry.device->QueuedInput(neverStopped_);
    return queued > 0 ? queued : 0;
}

std::int32_t ControllerLink::ReadChannel(int channel, void* buffer, std::int32_t length) {
    if (length <= 0 || buffer == nullptr) {
        return 0;
    }
    const Entry entry = EntryOf(channel);
    return entry.device ? entry.device->Read(buffer, length, neverStopped_) : 0;
}

std::int32_t ControllerLink::WriteChannel(int channel, const void* buffer, std::int32_t length) {
    if (length <= 0 || buffer == nullptr) {
        return 0;
    }
    const Entry entry = EntryOf(channel);
    return entry.device ? entry.device->Write(buffer, length, neverStopped_) : 0;
}

}  // namespace taktor
