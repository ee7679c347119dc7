// The stop signal on POSIX: an event counter that becomes readable once the signal is set, in
// the poll set of every wait of the serial backend.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "link/serial_device.h"

namespace taktor {

StopSignal::StopSignal() : wait_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
    if (Ready()) {
        close(static_cast<int>(wait_));
    }
}

bool StopSignal::Ready() const {
    return wait_ >= 0;
}

void StopSignal::Set() {
    const std::uint64_t one = 1;
    if (!set_.exchange(true) && Ready()) {
        while (write(static_cast<int>(wait_), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

// No call here blocks in a way that a signal could end: the backend never blocks but in poll.
bool StopSignal::Enter(std::intptr_t) const {
    return !IsSet();
}

void StopSignal::Leave() const {}

}  // namespace taktor
