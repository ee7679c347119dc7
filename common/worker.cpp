#include "common/worker.h"

#include <system_error>
#include <utility>

namespace taktor {

Worker::~Worker() {
    if (thread_.joinable()) {
        if (WaitFor(std::chrono::milliseconds(0))) {
            thread_.join();
        } else {
            thread_.detach();  // abandoned: it ends when its work returns
        }
    }
}

bool Worker::Start(std::function<void()> body) {
    auto shared = std::make_shared<Shared>();
    try {
        thread_ = std::thread([shared, body = std::move(body)]() mutable {
            body();
            body = nullptr;  // what it owns is released before it counts as ended
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->done = true;
            shared->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    shared_ = std::move(shared);
    return true;
}

bool Worker::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    if (!shared_) {
        return true;
    }
    std::unique_lock<std::mutex> lock(shared_->mutex);
    return shared_->ended.wait_until(lock, deadline, [this] { return shared_->done; });
}

}  // namespace taktor
