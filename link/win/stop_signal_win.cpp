// The stop signal on Windows: a manual-reset event, signalled once the signal is set, that every
// wait of the serial backend watches beside its operation; and the cancellation of a blocking
// call that no wait watches.
#include <windows.h>

#include "link/serial_device.h"

namespace taktor {

namespace {

// CancelSynchronousIo answers ERROR_NOT_FOUND while the thread has not yet entered the call
// that it has announced; it is tried again for this long.
constexpr int kCancelTries = 50;

}  // namespace

StopSignal::StopSignal()
    : wait_(reinterpret_cast<std::intptr_t>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

StopSignal::~StopSignal() {
    for (const std::intptr_t handle : {wait_, thread_}) {
        if (handle != 0) {
            CloseHandle(reinterpret_cast<HANDLE>(handle));
        }
    }
}

bool StopSignal::Ready() const {
    return wait_ != 0;
}

void StopSignal::Set() {
    if (set_.exchange(true)) {
        return;
    }
    if (Ready()) {
        SetEvent(reinterpret_cast<HANDLE>(wait_));
    }
    // The lock keeps the calling thread from leaving its call, and closing its handle, meanwhile.
    std::lock_guard<std::mutex> guard(callLock_);
    if (call_ > 0) {
        // Every request on the handle: the configuration calls wait for their own.
        CancelIoEx(reinterpret_cast<HANDLE>(call_), nullptr);
        return;
    }
    for (int tries = 0; call_ == 0 && thread_ != 0 && tries < kCancelTries; ++tries) {
        if (CancelSynchronousIo(reinterpret_cast<HANDLE>(thread_)) ||
            GetLastError() != ERROR_NOT_FOUND) {
            return;
        }
        Sleep(1);
    }
}

bool StopSignal::Enter(std::intptr_t file) const {
    std::lock_guard<std::mutex> guard(callLock_);
    if (IsSet()) {
        return false;
    }
    // CancelSynchronousIo needs a real handle of the thread, with the right to terminate it:
    // GetCurrentThread's pseudo-handle means the caller's own thread wherever it is used.
    HANDLE thread = nullptr;
    if (thread_ == 0 && DuplicateHandle(GetCurrentProcess(), GetCurrentThread(),
                                        GetCurrentProcess(), &thread, THREAD_TERMINATE, FALSE, 0)) {
        thread_ = reinterpret_cast<std::intptr_t>(thread);
    }
    call_ = file;
    return true;
}

void StopSignal::Leave() const {
    std::lock_guard<std::mutex> guard(callLock_);
    call_ = -1;
}

}  // namespace taktor
