#include "tools/simulator/pty_controller.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

namespace taktor::sim {

namespace {

// One byte of 8N1 takes ten bit times: 1.04 ms at 9600 baud.
constexpr auto kByteTime = std::chrono::microseconds(1042);

[[noreturn]] void Fail(const std::string& what, int error = errno) {
    throw std::system_error(error, std::generic_category(), what);
}

bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Calls one of the options' callbacks, which may call back into the controller, without the
// lock.
template <typename Callback, typename... Args>
void CallUnlocked(std::unique_lock<std::mutex>& lock, const Callback& callback,
                  const Args&... args) {
    if (callback) {
        lock.unlock();
        callback(args...);
        lock.lock();
    }
}

}  // namespace

PtyController::PtyController(PtyOptions options) : options_(std::move(options)) {
    try {
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd_ < 0) {
            Fail("eventfd");
        }
        OpenLine();  // before the serving thread starts: nothing else can touch the line yet
        SetBehaviour(options_.behaviour);
        thread_ = std::thread([this] { Serve(); });
    } catch (...) {
        Stop();
        throw;
    }
}

void PtyController::OpenLine() {
    slavePath_ = options_.devicePath;
    if (slavePath_.empty()) {
        lineFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128];
        if (lineFd_ < 0 || grantpt(lineFd_) != 0 || unlockpt(lineFd_) != 0 ||
            ptsname_r(lineFd_, name, sizeof(name)) != 0) {
            Fail("posix_openpt");
        }
        slavePath_ = name;
    }
    int& fd = options_.devicePath.empty() ? slaveFd_ : lineFd_;
    fd = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail("open " + slavePath_);
    }
    if (!MakeRaw(fd)) {
        Fail("configure " + slavePath_);
    }
    if (options_.claimTerminal && slaveFd_ >= 0) {
        ioctl(slaveFd_, TIOCSCTTY, 0);  // best effort
    }

    if (!options_.linkPath.empty()) {
        // A new link under a temporary name renamed over the old one: the path never lacks a
        // link while it is replaced.
        const std::string temporary =
            options_.linkPath + ".new" + std::to_string(static_cast<long>(getpid()));
        unlink(temporary.c_str());
        if (symlink(slavePath_.c_str(), temporary.c_str()) != 0) {
            Fail("symlink " + temporary);
        }
        if (rename(temporary.c_str(), options_.linkPath.c_str()) != 0) {
            const int error = errno;
            unlink(temporary.c_str());
            Fail("rename to " + options_.linkPath, error);
        }
    }
}

void PtyController::CloseLine() {
    if (!options_.linkPath.empty() && !slavePath_.empty()) {
        // Only a link that still leads to this line is removed.
        char target[PATH_MAX];
        const ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof(target) - 1);
        if (n > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(n))) {
            unlink(options_.linkPath.c_str());
        }
    }
    if (slaveFd_ >= 0) {
        tcflow(slaveFd_, TCOON);
    }
    CloseFd(slaveFd_);
    CloseFd(lineFd_);
    slavePath_.clear();
    // What was still to be sent is lost with the line.
    output_.clear();
    inbox_.clear();
    model_.TakeStaleLine(Clock::time_point::max());
    changed_.notify_all();
}

void PtyController::HangUpLine(Lock& lock) {
    CloseLine();
    CallUnlocked(lock, options_.onHangUp);
}

void PtyController::Stop() {
    Lock lock(mutex_);
    stopping_ = true;
    Wake();
    lock.unlock();
    if (thread_.joinable()) {
        thread_.join();
    }
    lock.lock();
    CloseLine();
    CloseFd(wakeFd_);
}

std::string PtyController::SlavePath() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return slavePath_;
}

bool PtyController::RequestLine(bool plugged) {
    if (!options_.devicePath.empty()) {
        return false;
    }
    Lock lock(mutex_);
    plugRequested_ = plugged;
    const std::uint64_t request = ++linesRequested_;
    if (std::this_thread::get_id() == thread_.get_id()) {
        ApplyLineRequest(lock);
        return true;
    }
    Wake();
    return changed_.wait_for(lock, std::chrono::seconds(5),
                             [&] { return linesApplied_ >= request; });
}

void PtyController::ApplyLineRequest(Lock& lock) {
    const std::uint64_t taken = linesRequested_;
    if (!plugRequested_ && lineFd_ >= 0) {
        HangUpLine(lock);
    } else if (plugRequested_ && lineFd_ < 0) {
        try {
            OpenLine();
        } catch (const std::system_error&) {
            CloseLine();  // stays unplugged
        }
    }
    linesApplied_ = taken;
    changed_.notify_all();
}

void PtyController::SetBehaviour(const Behaviour& behaviour) {
    std::lock_guard<std::mutex> guard(mutex_);
    const Clock::time_point now = Clock::now();
    model_.SetBehaviour(behaviour, now);
    Queue(now, model_.TakeStaleLine(now));
    Wake();
}

Behaviour PtyController::CurrentBehaviour() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return model_.CurrentBehaviour();
}

std::vector<ReceivedFrame> PtyController::Frames() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return frames_;
}

bool PtyController::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    Lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

std::size_t PtyController::DiscardedBytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return model_.DiscardedBytes();
}

void PtyController::Send(const std::string& bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    Queue(Clock::now(), bytes);
    Wake();
}

bool PtyController::WaitForOutput(std::chrono::milliseconds timeout) const {
    Lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::all_of(output_.begin(), output_.end(),
                           [](const auto& queued) { return queued.second.bytes.empty(); });
    });
}

bool PtyController::FlowLine(bool on) {
    std::lock_guard<std::mutex> guard(mutex_);
    return slaveFd_ >= 0 && tcflow(slaveFd_, on ? TCOON : TCOOFF) == 0;
}

void PtyController::Wake() {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0) {
        [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof(one));
    }
}

void PtyController::Queue(Clock::time_point due, std::string bytes, bool hangUp) {
    if (lineFd_ >= 0 && (!bytes.empty() || hangUp)) {
        output_.emplace(due, Output{std::move(bytes), hangUp});
    }
}

void PtyController::Receive(Clock::time_point now) {
    std::uint8_t buffer[4096];
    ssize_t n = 0;
    while ((n = read(lineFd_, buffer, sizeof(buffer))) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            // Unpaced, a byte has crossed the wire when it is read; paced, one byte time after
            // the one before it, or after it was read if the line was idle.
            inFree_ = options_.paced ? std::max(inFree_, now) + kByteTime : now;
            inbox_.emplace_back(inFree_, buffer[i]);
        }
    }
}

void PtyController::Deliver(Clock::time_point now, Lock& lock) {
    std::vector<std::uint8_t> bytes;
    Clock::time_point at;  // the frame completes with its last byte: its reply counts from then
    for (; !inbox_.empty() && inbox_.front().first <= now; inbox_.pop_front()) {
        at = inbox_.front().first;
        bytes.push_back(inbox_.front().second);
    }
    if (bytes.empty()) {
        return;
    }
    const std::size_t discarded = model_.DiscardedBytes();
    const std::vector<ReceivedFrame> frames = model_.Receive(bytes.data(), bytes.size(), at);
    if (model_.DiscardedBytes() > discarded) {
        CallUnlocked(lock, options_.onDiscarded, model_.DiscardedBytes() - discarded);
    }
    for (const ReceivedFrame& frame : frames) {
        CallUnlocked(lock, options_.onFrame, frame);
        for (ReplyChunk& chunk : model_.Reply(frame)) {
            Queue(at + chunk.delay, std::move(chunk.bytes), chunk.hangUp);
        }
        // Recorded together with its reply, so that whoever sees the frame can wait for that.
        frames_.push_back(frame);
        changed_.notify_all();
    }
}

bool PtyController::Flush(Clock::time_point now, Lock& lock) {
    while (!output_.empty() && output_.begin()->first <= now) {
        Output& output = output_.begin()->second;
        std::size_t count = output.bytes.size();
        if (options_.paced) {
            // The line sends one byte per byte time, and a byte reaches the other side when its
            // last bit has: one byte time after it began. After a pause it does not catch up.
            outFree_ = std::max(outFree_, output_.begin()->first);
            if (outFree_ + 4 * kByteTime < now) {
                outFree_ = now - kByteTime;
            }
            if (outFree_ + kByteTime > now) {
                break;
            }
            count = std::min(count, static_cast<std::size_t>((now - outFree_) / kByteTime));
        }
        const ssize_t n = count > 0 ? write(lineFd_, output.bytes.data(), count) : 0;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return false;
        }
        // A write that fails otherwise finds the line gone: its bytes go with it.
        const std::size_t sent = n < 0 ? output.bytes.size() : static_cast<std::size_t>(n);
        outFree_ += kByteTime * sent;
        output.bytes.erase(0, sent);
        if (output.bytes.empty()) {
            const bool hangUp = output.hangUp;
            output_.erase(output_.begin());
            if (hangUp) {
                HangUpLine(lock);
                return true;
            }
        }
    }
    changed_.notify_all();
    return true;
}

Clock::time_point PtyController::NextWake(bool writable) const {
    Clock::time_point next = model_.StaleLineDue().value_or(Clock::time_point::max());
    if (writable && !output_.empty()) {
        const Clock::time_point due = output_.begin()->first;
        next = std::min(next, options_.paced ? std::max(due, outFree_) + kByteTime : due);
    }
    if (!inbox_.empty()) {
        next = std::min(next, inbox_.front().first);
    }
    return next;
}

void PtyController::Serve() {
    // Paced bytes are due at exact times: the kernel may not defer this thread's wake-ups by
    // its default slack of 50 microseconds.
    prctl(PR_SET_TIMERSLACK, 1UL);
    Lock lock(mutex_);
    while (!stopping_) {
        if (linesApplied_ < linesRequested_) {
            ApplyLineRequest(lock);
        }
        const Clock::time_point now = Clock::now();
        Queue(now, model_.TakeStaleLine(now));
        Deliver(now, lock);
        const bool writable = Flush(now, lock);

        // While hung up, the line is -1 and poll passes over it: only a wake ends the wait.
        // Paced bytes are due at sub-millisecond times: the wait is given in nanoseconds.
        const Clock::time_point next = NextWake(writable);
        const long ns = std::chrono::nanoseconds(std::max(next, now) - now).count();
        const timespec wait = {ns / 1000000000, ns % 1000000000};
        pollfd fds[2] = {{wakeFd_, POLLIN, 0},
                         {lineFd_, static_cast<short>(POLLIN | (writable ? 0 : POLLOUT)), 0}};
        lock.unlock();
        const int ready =
            ppoll(fds, 2, next == Clock::time_point::max() ? nullptr : &wait, nullptr);
        lock.lock();
        if (ready <= 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &wakes, sizeof(wakes));
        }
        if (fds[1].revents & POLLIN) {
            Receive(Clock::now());
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // A served device that went away: do not spin while it is gone.
            lock.unlock();
            poll(fds, 1, 50);
            lock.lock();
        }
    }
}

}  // namespace taktor::sim
