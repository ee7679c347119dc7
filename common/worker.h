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
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // Joins a thread that has ended (it has only to return from its function); leaves one that
    // still runs to end on its own.
    ~Worker();

    // False when no thread could be started; body is then destroyed unrun, on this thread. What
    // body owns is released, on the worker's thread, before the worker counts as ended. At most
    // once per Worker.
    bool Start(std::function<void()> body);

    // True when the worker has ended (or none was started) by the deadline, or within the
    // time-out.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    bool WaitFor(std::chrono::milliseconds timeout) {
        return WaitUntil(std::chrono::steady_clock::now() + timeout);
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace taktor
