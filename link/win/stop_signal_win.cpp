// The stop signal on Windows: a manual-reset event, signalled once the signal is set, that every
// wait of the serial backend watches beside its operation.
#include <windows.h>

#include "link/stop_signal.h"

namespace taktor {

StopSignal::StopSignal()
    : wait_(reinterpret_cast<std::intptr_t>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

StopSignal::~StopSignal() {
    if (Ready()) {
        CloseHandle(reinterpret_cast<HANDLE>(wait_));
    }
}

bool StopSignal::Ready() const {
    return wait_ != 0;
}

void StopSignal::Set() {
    if (!set_.exchange(true) && Ready()) {
        SetEvent(reinterpret_cast<HANDLE>(wait_));
    }
}

}  // namespace taktor
