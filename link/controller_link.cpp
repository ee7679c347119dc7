// The link's own waits: the grace period of a write command, workers left inside a driver, and
// devices closed off the main thread.
#include "link/controller_link.h"

#include <algorithm>
#include <utility>

#include "link/write_timing.h"

namespace taktor {

using std::chrono::milliseconds;

ControllerLink::ControllerLink(SerialDeviceOpener opener)
    : opener_(std::move(opener)), graceLeft_(kGracePeriod) {}

ControllerLink::~ControllerLink() {
    CloseAllChannels();
}

void ControllerLink::StartGracePeriod() {
    graceLeft_ = kGracePeriod;
}

bool ControllerLink::WaitWithGrace(const std::function<bool(milliseconds)>& wait,
                                   milliseconds nominal) {
    if (wait(nominal)) {
        return true;
    }
    const auto start = Clock::now();
    const bool came = wait(graceLeft_);
    const auto used = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    graceLeft_ = std::max(milliseconds(0), graceLeft_ - used);
    return came;
}

bool ControllerLink::WaitWithGrace(Worker& worker, milliseconds nominal) {
    return WaitWithGrace([&worker](milliseconds timeout) { return worker.WaitFor(timeout); },
                         nominal);
}

bool ControllerLink::RunWithGrace(std::function<void()> body) {
    Worker worker;
    return worker.Start(std::move(body)) && WaitWithGrace(worker, milliseconds(0));
}

void ControllerLink::Release(std::shared_ptr<SerialDevice> device) {
    if (!device) {
        return;
    }
    // The worker takes the only reference the main thread had; whether or not the wait for it
    // runs out, the device is destroyed on the worker. Should no thread start, the device is
    // kept for the rest of the run rather than closed here, where a hanging driver would freeze
    // the window.
    auto held = std::make_shared<std::shared_ptr<SerialDevice>>(std::move(device));
    Worker closer;
    if (!closer.Start([held] { held->reset(); })) {
        static_cast<void>(new std::shared_ptr<SerialDevice>(std::move(*held)));
        return;
    }
    WaitWithGrace(closer, milliseconds(0));
}

bool ControllerLink::PortHeld(const Text& path) {
    leftovers_.erase(std::remove_if(leftovers_.begin(), leftovers_.end(),
                                    [](const Leftover& left) { return !left.worker.Running(); }),
                     leftovers_.end());
    // The port is free again once the device is gone, even if its worker has still to finish.
    return std::any_of(leftovers_.begin(), leftovers_.end(), [&](const Leftover& left) {
        return left.path == path && !left.device.expired();
    });
}

bool ControllerLink::Settle(const std::shared_ptr<SerialDevice>& device,
                            Clock::time_point deadline) {
    for (Leftover& left : leftovers_) {
        // Compared by owner, so that no strong reference is ever made here.
        const bool same = !left.device.owner_before(device) && !device.owner_before(left.device);
        if (same) {
            const auto allowed = std::chrono::ceil<milliseconds>(deadline - Clock::now());
            if (!WaitWithGrace(left.worker, std::max(allowed, milliseconds(0)))) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace taktor
