#include "common/worker.h"

#include <system_error>
#include <utility>

namespace taktor {

Worker& Worker::operator=(Worker&& other) noexcept {
    if (this != &other) {
        Release();
        shared_ = std::move(other.shared_);
        thread_ = std::move(other.thread_);
    }
    return *this;
}

bool Worker::Start(std::function<void()> body) {
    Release();
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

bool Worker::WaitFor(std::chrono::milliseconds timeout) {
    if (!shared_) {
        return true;
    }
    std::unique_lock<std::mutex> lock(shared_->mutex);
    return shared_->ended.wait_for(lock, timeout, [this] { return shared_->done; });
}

bool Worker::Running() const {
    if (!shared_) {
        return false;
    }
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return !shared_->done;
}

void Worker::Release() {
    if (thread_.joinable()) {
        if (Running()) {
            thread_.detach();  // abandoned: it ends when its work returns
        } else {
            thread_.join();
        }
    }
    shared_.reset();
}

}  // namespace taktor
