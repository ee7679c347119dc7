// The channel table: open serial devices kept under small channel numbers, one re-entrant lock
// around the table and no I/O under it.
#include "link/serial_channel.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "link/serial_device.h"
#include "link/testing/serial_testing.h"
#include "link/worker.h"

namespace taktor {

const LineSettings kControllerLineSettings = {9600, 0, 8, 1.0f, 0, 255, 255};

namespace {

constexpr Text::size_type kMaxPortNameLength = 59;

// Every operation copies the device pointer under the lock and works on its copy outside it, so
// closing a channel while another thread is inside a read or write only empties the entry; the
// port itself closes when the last of those operations returns. No device is opened or closed
// under the lock.
struct ChannelTable {
    std::recursive_mutex lock;
    std::vector<std::shared_ptr<SerialDevice>> entries;
    SerialDeviceOpener opener;
};

ChannelTable& Table() {
    static ChannelTable table;
    return table;
}

// Drops the table's reference to a device that left it. The port closes now, unless an
// operation on another thread still uses the device; then it closes when that operation returns.
// Closing runs on a worker within the grace period: a close that hangs in the driver is left to
// finish on its own, and the port stays taken until it does.
void Release(std::shared_ptr<SerialDevice> device) {
    if (device) {
        RunWithGrace([device = std::move(device)]() mutable { device.reset(); });
    }
}

std::shared_ptr<SerialDevice> FindDevice(int channel) {
    ChannelTable& table = Table();
    std::lock_guard<std::recursive_mutex> guard(table.lock);
    if (channel < 0 || static_cast<std::size_t>(channel) >= table.entries.size()) {
        return nullptr;
    }
    return table.entries[static_cast<std::size_t>(channel)];
}

}  // namespace

void SetSerialDeviceOpener(SerialDeviceOpener opener) {
    ChannelTable& table = Table();
    std::lock_guard<std::recursive_mutex> guard(table.lock);
    table.opener = std::move(opener);
}

void InitChannelTable() {
    ChannelTable& table = Table();
    std::lock_guard<std::recursive_mutex> guard(table.lock);
    table.entries.clear();
}

Text DevicePath(const Text& portName) {
    return u"\\\\.\\" + portName.substr(0, kMaxPortNameLength);
}

ChannelHandle OpenChannel(int channel, const Text* portName, const LineSettings& settings) {
    if (portName == nullptr || channel < 0) {
        return 0;
    }
    const Text path = DevicePath(*portName);

    ChannelTable& table = Table();
    SerialDeviceOpener opener;
    {
        std::lock_guard<std::recursive_mutex> guard(table.lock);
        opener = table.opener;
    }
    // Opening and configuring may take a while on a real driver, and hang in a broken one: on a
    // worker, not under the lock. A device that an abandoned open gets after all is closed again
    // by that worker.
    auto opened = std::make_shared<std::shared_ptr<SerialDevice>>();
    const bool ended = RunWithGrace([opened, opener, path, settings] {
        *opened = opener ? opener(path, settings) : OpenSerialDevice(path, settings);
    });
    if (!ended || !*opened) {
        return 0;
    }
    std::shared_ptr<SerialDevice> device = std::move(*opened);
    const ChannelHandle handle = device->Handle();

    std::shared_ptr<SerialDevice> replaced;
    {
        std::lock_guard<std::recursive_mutex> guard(table.lock);
        const auto index = static_cast<std::size_t>(channel);
        if (index >= table.entries.size()) {
            table.entries.resize(index + 1);
        }
        replaced = std::exchange(table.entries[index], std::move(device));
    }
    Release(std::move(replaced));
    return handle;
}

ChannelHandle OpenChannel(int channel, const Text* portName, std::int32_t baudRate,
                          std::int32_t parity, std::int32_t dataBits, float stopBits,
                          std::int32_t handshake, std::int32_t inputQueue,
                          std::int32_t outputQueue) {
    const LineSettings settings = {baudRate,  parity,     dataBits,   stopBits,
                                   handshake, inputQueue, outputQueue};
    return OpenChannel(channel, portName, settings);
}

int IsChannelOpen(int channel) {
    return FindDevice(channel) ? 1 : 0;
}

void CloseChannel(int channel) {
    ChannelTable& table = Table();
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard<std::recursive_mutex> guard(table.lock);
        if (channel < 0 || static_cast<std::size_t>(channel) >= table.entries.size()) {
            return;
        }
        device = std::move(table.entries[static_cast<std::size_t>(channel)]);
    }
    Release(std::move(device));
}

void CloseAllChannels() {
    ChannelTable& table = Table();
    std::size_t count = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(table.lock);
        count = table.entries.size();
    }
    for (std::size_t i = 0; i < count; ++i) {
        CloseChannel(static_cast<int>(i));
    }
}

std::int32_t AvailableInput(int channel) {
    const std::shared_ptr<SerialDevice> device = FindDevice(channel);
    if (!device) {
        return 0;
    }
    const std::int32_t queued = device->QueuedInput();
    return queued > 0 ? queued : 0;
}

std::int32_t ReadChannel(int channel, void* buffer, std::int32_t length) {
    if (length <= 0 || buffer == nullptr) {
        return 0;
    }
    const std::shared_ptr<SerialDevice> device = FindDevice(channel);
    return device ? device->Read(buffer, length) : 0;
}

std::int32_t WriteChannel(int channel, const void* buffer, std::int32_t length) {
    if (length <= 0 || buffer == nullptr) {
        return 0;
    }
    const std::shared_ptr<SerialDevice> device = FindDevice(channel);
    return device ? device->Write(buffer, length) : 0;
}

void CancelChannelIo(int channel) {
    const std::shared_ptr<SerialDevice> device = FindDevice(channel);
    if (device) {
        device->Cancel();
    }
}

void ResumeChannelIo(int channel) {
    const std::shared_ptr<SerialDevice> device = FindDevice(channel);
    if (device) {
        device->Resume();
    }
}

}  // namespace taktor
