// The stop of one transfer attempt's port operations: once set, every operation given the
// signal returns at once, and so does every one that starts later. It is never cleared, so each
// attempt has its own, and a worker that wakes late can stop only its own attempt's work.
#pragma once

#include <atomic>
#include <cstdint>

namespace taktor {

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // False when the platform could not make the object that waits watch; such a signal cannot
    // end a wait and must not be given to an operation.
    bool Ready() const;

    // Any thread, any number of times.
    void Set();
    bool IsSet() const { return set_.load(); }

    // What the backends' waits watch: a manual-reset event on Windows, signalled once set; the
    // read end of a pipe elsewhere, readable once set.
    std::intptr_t WaitHandle() const { return wait_; }

private:
    std::atomic<bool> set_{false};
    std::intptr_t wait_ = -1;
    std::intptr_t post_ = -1;  // the pipe's write end (POSIX only)
};

}  // namespace taktor
