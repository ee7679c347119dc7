// A thread whose end can be awaited with a time-out: how work that may hang inside a driver or
// the system runs without ever holding up the thread that waits for it.
//
// No thread is ever killed (a killed thread may leave the heap lock or another lock held). A
// Worker that has not ended when its wait runs out is abandoned instead: it runs on until its
// work returns, so everything the work touches must be its own (held through shared pointers),
// and it frees that when it ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace taktor {

class Worker {
public:
    Worker() = default;
    Worker(Worker&&) noexcept = default;
    Worker& operator=(Worker&& other) noexcept;
    // See Release.
    ~Worker() { Release(); }

    // False when no thread could be started; body is then destroyed unrun, on this thread. What
    // body owns is released, on the worker's thread, before the worker counts as ended.
    bool Start(std::function<void()> body);

    // True when the worker has ended (or none was started) within the time-out.
    bool WaitFor(std::chrono::milliseconds timeout);

    // Started and not yet ended.
    bool Running() const;

private:
    // Joins a thread that has ended: it has only to return from its function, so that takes
    // no longer than a thread's exit. Leaves one that still runs to end on its own.
    void Release();

    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace taktor
