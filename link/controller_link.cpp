// The channel table, and the threads that open, use and close its ports.
#include "link/controller_link.h"

#include <algorithm>
#include <condition_variable>
#include <set>
#include <utility>

#include "link/write_timing.h"

namespace taktor {

Text DevicePath(const Text& portName) {
    return u"\\\\.\\" + portName.substr(0, 59);  // at most 63 characters
}

// The ports that threads of this link work on, once per thread.
struct ControllerLink::HeldPorts {
    std::mutex mutex;
    std::condition_variable changed;
    std::multiset<Text> ports;
};

ControllerLink::ControllerLink(SerialDeviceOpener opener)
    : opener_(std::move(opener)), held_(std::make_shared<HeldPorts>()) {}

ControllerLink::~ControllerLink() {
    CloseAllChannels();
}

bool ControllerLink::StartOnPort(Worker& worker, const Text& path, std::function<void()> body) {
    {
        std::lock_guard<std::mutex> guard(held_->mutex);
        held_->ports.insert(path);
    }
    // The mark goes with the last copy of the body: once the thread has returned and let go of
    // what the body holds, or once the body is dropped unrun.
    const std::shared_ptr<void> mark(nullptr, [held = held_, path](void*) {
        std::lock_guard<std::mutex> guard(held->mutex);
        held->ports.erase(held->ports.find(path));
        held->changed.notify_all();
    });
    return worker.Start([mark, body = std::move(body)]() mutable {
        body();
        body = nullptr;  // what it holds (a device, say) is let go of before the mark
    });
}

bool ControllerLink::PortFree(const Text& path, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(held_->mutex);
    return held_->changed.wait_for(lock, timeout, [&] { return held_->ports.count(path) == 0; });
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
    // A thread of ours is still inside this port's driver: an open would fail, or hang there too.
    if (!PortFree(path, std::chrono::milliseconds(0))) {
        return 0;
    }

    // The opening thread hands its device over unless the main thread has stopped waiting;
    // then it closes the device itself.
    struct Handover {
        std::mutex lock;
        std::shared_ptr<SerialDevice> device;
        bool abandoned = false;
        StopSignal stop;
    };
    auto handover = std::make_shared<Handover>();
    Worker opening;
    const bool started = StartOnPort(opening, path, [handover, open = opener_, path, settings] {
        std::shared_ptr<SerialDevice> device = open(path, settings, handover->stop);
        std::lock_guard<std::mutex> guard(handover->lock);
        if (!handover->abandoned) {
            handover->device = std::move(device);
        }
        // An abandoned device is closed here, after the lock (locals go in reverse order).
    });
    if (started && !opening.WaitFor(kOpenWait)) {
        handover->stop.Set();
        opening.WaitFor(kStopWait);
    }
    std::shared_ptr<SerialDevice> device;
    {
        std::lock_guard<std::mutex> guard(handover->lock);
        handover->abandoned = true;
        device = std::move(handover->device);  // also one that came just after the wait
    }
    if (!device) {
        return 0;
    }
    const ChannelHandle handle = device->Handle();
    Close(Exchange(channel, Entry{std::move(device), path}));
    return handle;
}

ControllerLink::Entry ControllerLink::Exchange(int channel, Entry entry) {
    std::lock_guard<std::mutex> guard(tableLock_);
    const auto index = static_cast<std::size_t>(channel);
    if (index >= entries_.size()) {
        if (!entry.device) {
            return {};
        }
        entries_.resize(index + 1);
    }
    return std::exchange(entries_[index], std::move(entry));
}

void ControllerLink::Close(Entry entry) {
    if (!entry.device) {
        return;
    }
    // The thread takes the only reference the main thread had; whether or not the wait runs
    // out, the device is destroyed off this thread. Should no thread start, the device is kept
    // for the rest of the run rather than closed here, where a hanging driver would freeze the
    // window.
    auto held = std::make_shared<std::shared_ptr<SerialDevice>>(std::move(entry.device));
    Worker closing;
    if (!StartOnPort(closing, entry.path, [held] { held->reset(); })) {
        static_cast<void>(new std::shared_ptr<SerialDevice>(std::move(*held)));
        return;
    }
    closing.WaitFor(kCloseWait);
}

int ControllerLink::IsChannelOpen(int channel) const {
    return EntryOf(channel).device ? 1 : 0;
}

void ControllerLink::CloseChannel(int channel) {
    if (channel >= 0) {
        Close(Exchange(channel, Entry{}));
    }
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
    return std::max(0, entry.device ? entry.device->QueuedInput(neverStopped_) : 0);
}

std::int32_t ControllerLink::ReadChannel(int channel, void* buffer, std::int32_t length) {
    const Entry entry = EntryOf(channel);
    return entry.device && buffer != nullptr && length > 0
               ? entry.device->Read(buffer, length, neverStopped_)
               : 0;
}

std::int32_t ControllerLink::WriteChannel(int channel, const void* buffer, std::int32_t length) {
    const Entry entry = EntryOf(channel);
    return entry.device && buffer != nullptr && length > 0
               ? entry.device->Write(buffer, length, neverStopped_)
               : 0;
}

}  // namespace taktor
