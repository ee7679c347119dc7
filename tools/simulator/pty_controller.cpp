#include "tools/simulator/pty_controller.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace taktor::sim {

namespace {

// One byte of 8N1 takes ten bit times: 1.04 ms at 9600 baud.
constexpr auto kByteTime = std::chrono::microseconds(1042);
// A stale line is left once the configurator has been quiet this long after a frame.
constexpr auto kQuietBeforeStale = std::chrono::milliseconds(1000);

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
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

}  // namespace

PtyController::PtyController(PtyOptions options)
    : options_(std::move(options)), model_(options_.behaviour), behaviour_(options_.behaviour) {
    try {
        if (pipe(wakeFds_) != 0) {
            Fail("pipe");
        }
        SetNonBlocking(wakeFds_[0]);
        SetNonBlocking(wakeFds_[1]);
        OpenLine();
        if (behaviour_.kind == ReplyKind::Stray) {
            Queue(Clock::now(), StaleLine());
        }
        thread_ = std::thread([this] { Serve(); });
    } catch (...) {
        Stop();
        throw;
    }
}

PtyController::~PtyController() {
    Stop();
}

void PtyController::OpenLine() {
    std::string slavePath;
    int slaveFd = -1;
    if (!options_.devicePath.empty()) {
        slavePath = options_.devicePath;
        lineFd_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (lineFd_ < 0) {
            Fail("open " + slavePath);
        }
        if (!MakeRaw(lineFd_)) {
            Fail("configure " + slavePath);
        }
    } else {
        lineFd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (lineFd_ < 0) {
            Fail("posix_openpt");
        }
        SetNonBlocking(lineFd_);
        if (grantpt(lineFd_) != 0 || unlockpt(lineFd_) != 0) {
            Fail("unlockpt");
        }
        char name[128];
        if (ptsname_r(lineFd_, name, sizeof(name)) != 0) {
            Fail("ptsname");
        }
        slavePath = name;
        slaveFd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slaveFd < 0) {
            Fail("open " + slavePath);
        }
        if (!MakeRaw(slaveFd)) {
            const int error = errno;
            close(slaveFd);
            errno = error;
            Fail("configure " + slavePath);
        }
        if (options_.claimTerminal) {
            ioctl(slaveFd, TIOCSCTTY, 0);  // best effort
        }
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        slavePath_ = slavePath;
        slaveFd_ = slaveFd;
    }

    if (!options_.linkPath.empty()) {
        // A new link under a temporary name renamed over the old one: the path never lacks a
        // link while it is replaced.
        const std::string temporary =
            options_.linkPath + ".new" + std::to_string(static_cast<long>(getpid()));
        unlink(temporary.c_str());
        if (symlink(slavePath.c_str(), temporary.c_str()) != 0) {
            Fail("symlink " + temporary);
        }
        if (rename(temporary.c_str(), options_.linkPath.c_str()) != 0) {
            const int error = errno;
            unlink(temporary.c_str());
            errno = error;
            Fail("rename to " + options_.linkPath);
        }
        linked_ = true;
    }
}

void PtyController::CloseLine() {
    std::string slavePath;
    int slaveFd = -1;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        slavePath = std::move(slavePath_);
        slavePath_.clear();
        slaveFd = std::exchange(slaveFd_, -1);
    }
    if (linked_) {
        char target[PATH_MAX];
        const ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof(target) - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath) {
            unlink(options_.linkPath.c_str());
        }
        linked_ = false;
    }
    if (slaveFd >= 0) {
        tcflow(slaveFd, TCOON);
    }
    CloseFd(slaveFd);
    CloseFd(lineFd_);

    // What was still to be sent is lost with the line.
    std::size_t dropped = 0;
    for (const Output& output : output_) {
        dropped += output.bytes.size();
    }
    output_.clear();
    inbox_.clear();
    inboxDue_.clear();
    staleDue_.reset();
    if (dropped > 0) {
        std::lock_guard<std::mutex> guard(mutex_);
        queuedBytes_ -= dropped;
    }
    changed_.notify_all();
}

void PtyController::HangUpLine() {
    CloseLine();
    if (options_.onHangUp) {
        options_.onHangUp();
    }
}

void PtyController::Stop() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    CloseLine();
    CloseFd(wakeFds_[0]);
    CloseFd(wakeFds_[1]);
}

std::string PtyController::SlavePath() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return slavePath_;
}

bool PtyController::HangUp() {
    return RequestLine(false);
}

bool PtyController::PlugIn() {
    return RequestLine(true);
}

bool PtyController::PluggedIn() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return !slavePath_.empty();
}

bool PtyController::RequestLine(bool plugged) {
    if (!options_.devicePath.empty()) {
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    lineRequest_ = plugged;
    const std::uint64_t request = ++linesRequested_;
    lock.unlock();
    if (std::this_thread::get_id() == thread_.get_id()) {
        ApplyLineRequest();
        return true;
    }
    Wake();
    lock.lock();
    return changed_.wait_for(lock, std::chrono::seconds(5),
                             [&] { return linesApplied_ >= request; });
}

void PtyController::ApplyLineRequest() {
    std::optional<bool> request;
    std::uint64_t taken = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        request.swap(lineRequest_);
        taken = linesRequested_;
    }
    if (request) {
        const bool plugged = lineFd_ >= 0;
        if (plugged && !*request) {
            HangUpLine();
        } else if (!plugged && *request) {
            try {
                OpenLine();
            } catch (const std::system_error&) {
                CloseLine();  // stays unplugged
            }
        }
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        linesApplied_ = taken;
    }
    changed_.notify_all();
}

void PtyController::SetBehaviour(const Behaviour& behaviour) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        behaviour_ = behaviour;
        pendingBehaviour_ = behaviour;
    }
    Wake();
}

Behaviour PtyController::CurrentBehaviour() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return behaviour_;
}

std::vector<ReceivedFrame> PtyController::Frames() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return frames_;
}

bool PtyController::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

std::size_t PtyController::DiscardedBytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return discarded_;
}

void PtyController::Send(const std::string& bytes) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        pendingSend_ += bytes;
        queuedBytes_ += bytes.size();
    }
    Wake();
}

bool PtyController::WaitForOutput(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return queuedBytes_ == 0; });
}

bool PtyController::SuspendLine() {
    std::lock_guard<std::mutex> guard(mutex_);
    return slaveFd_ >= 0 && tcflow(slaveFd_, TCOOFF) == 0;
}

bool PtyController::ResumeLine() {
    std::lock_guard<std::mutex> guard(mutex_);
    return slaveFd_ >= 0 && tcflow(slaveFd_, TCOON) == 0;
}

void PtyController::Wake() {
    if (wakeFds_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(wakeFds_[1], &byte, 1);
    }
}

void PtyController::Queue(Clock::time_point due, std::string bytes, bool counted, bool hangUp) {
    if (lineFd_ < 0 || (bytes.empty() && !hangUp)) {
        if (counted && !bytes.empty()) {
            std::lock_guard<std::mutex> guard(mutex_);
            queuedBytes_ -= bytes.size();  // no line to send them on
        }
        return;
    }
    if (!counted) {
        std::lock_guard<std::mutex> guard(mutex_);
        queuedBytes_ += bytes.size();
    }
    const auto later = std::upper_bound(
        output_.begin(), output_.end(), due,
        [](Clock::time_point when, const Output& queued) { return when < queued.due; });
    output_.insert(later, Output{due, std::move(bytes), hangUp});
}

void PtyController::ApplyPendingBehaviour(Clock::time_point now) {
    std::optional<Behaviour> behaviour;
    std::string send;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        behaviour.swap(pendingBehaviour_);
        send.swap(pendingSend_);
    }
    Queue(now, std::move(send), true);
    if (behaviour) {
        const bool becomesStray = behaviour->kind == ReplyKind::Stray &&
                                  model_.CurrentBehaviour().kind != ReplyKind::Stray;
        model_.SetBehaviour(*behaviour);
        if (becomesStray) {
            Queue(now, StaleLine());
        }
        if (behaviour->kind != ReplyKind::Stray) {
            staleDue_.reset();
        }
    }
}

void PtyController::Receive(Clock::time_point now) {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = read(lineFd_, buffer, sizeof(buffer));
        if (n <= 0) {
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            // Unpaced, a byte has crossed the wire when it is read; paced, one byte time after
            // the one before it, or after it was read if the line was idle.
            Clock::time_point due = now;
            if (options_.paced) {
                lineInFree_ = std::max(lineInFree_, now) + kByteTime;
                due = lineInFree_;
            }
            inbox_.push_back(static_cast<char>(buffer[i]));
            inboxDue_.push_back(due);
        }
    }
    Deliver(now);
}

void PtyController::Deliver(Clock::time_point now) {
    const auto arrived = static_cast<std::size_t>(
        std::upper_bound(inboxDue_.begin(), inboxDue_.end(), now) - inboxDue_.begin());
    if (arrived == 0) {
        return;
    }
    // The frame completes with its last byte: its reply counts from then.
    const Clock::time_point at = options_.paced ? inboxDue_[arrived - 1] : now;
    const std::string bytes = inbox_.substr(0, arrived);
    inbox_.erase(0, arrived);
    inboxDue_.erase(inboxDue_.begin(), inboxDue_.begin() + static_cast<std::ptrdiff_t>(arrived));

    const std::vector<ReceivedFrame> frames =
        model_.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), at);
    std::size_t dropped = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        dropped = model_.DiscardedBytes() - discarded_;
        discarded_ = model_.DiscardedBytes();
    }
    if (dropped > 0 && options_.onDiscarded) {
        options_.onDiscarded(dropped);
    }
    if (staleDue_) {
        staleDue_ = at + kQuietBeforeStale;
    }
    for (const ReceivedFrame& frame : frames) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            frames_.push_back(frame);
        }
        changed_.notify_all();
        if (options_.onFrame) {
            options_.onFrame(frame);
        }
        ApplyPendingBehaviour(now);
        for (ReplyChunk& chunk : model_.Reply(frame)) {
            Queue(at + chunk.delay, std::move(chunk.bytes), false, chunk.hangUp);
        }
        if (model_.CurrentBehaviour().kind == ReplyKind::Stray) {
            staleDue_ = at + kQuietBeforeStale;
        }
    }
}

bool PtyController::Flush(Clock::time_point now) {
    std::size_t written = 0;
    bool blocked = false;
    bool hangUp = false;
    while (!output_.empty() && output_.front().due <= now) {
        std::string& bytes = output_.front().bytes;
        std::size_t count = bytes.size();
        if (options_.paced) {
            // The line sends one byte per byte time, and a byte reaches the other side when its
            // last bit has: one byte time after it began. After a pause it does not catch up.
            lineFree_ = std::max(lineFree_, output_.front().due);
            if (lineFree_ + 4 * kByteTime < now) {
                lineFree_ = now - kByteTime;
            }
            if (lineFree_ + kByteTime > now) {
                break;
            }
            const auto slots = static_cast<std::size_t>((now - lineFree_) / kByteTime);
            count = std::min(count, slots);
        }
        const ssize_t n = count > 0 ? write(lineFd_, bytes.data(), count) : 0;
        if (n < 0) {
            blocked = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            if (!blocked) {
                written += bytes.size();  // the line is gone: drop the output
                output_.erase(output_.begin());
                continue;
            }
            break;
        }
        written += static_cast<std::size_t>(n);
        if (options_.paced) {
            lineFree_ += kByteTime * n;
        }
        bytes.erase(0, static_cast<std::size_t>(n));
        if (bytes.empty()) {
            hangUp = output_.front().hangUp;
            output_.erase(output_.begin());
            if (hangUp) {
                break;
            }
        }
    }
    if (written > 0) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            queuedBytes_ -= written;
        }
        changed_.notify_all();
    }
    if (hangUp) {
        HangUpLine();
    }
    return !blocked;
}

std::optional<Clock::time_point> PtyController::NextWake() const {
    std::optional<Clock::time_point> next = staleDue_;
    if (!output_.empty()) {
        Clock::time_point due = output_.front().due;
        if (options_.paced) {
            due = std::max(due, lineFree_) + kByteTime;
        }
        if (!next || due < *next) {
            next = due;
        }
    }
    return next;
}

void PtyController::Serve() {
    // Paced bytes are due at exact times: the kernel may not defer this thread's wake-ups by
    // its default slack of 50 microseconds.
    prctl(PR_SET_TIMERSLACK, 1UL);
    bool writable = true;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (stopping_) {
                return;
            }
        }
        ApplyLineRequest();
        Clock::time_point now = Clock::now();
        ApplyPendingBehaviour(now);
        if (lineFd_ < 0) {
            // Unplugged: nothing to serve until plugged in again or stopped.
            pollfd wake = {wakeFds_[0], POLLIN, 0};
            poll(&wake, 1, -1);
            DrainWake();
            continue;
        }
        if (staleDue_ && *staleDue_ <= now) {
            staleDue_.reset();
            Queue(now, StaleLine());
        }
        Deliver(now);
        writable = Flush(now);
        if (lineFd_ < 0) {
            continue;  // hung up by the reply
        }

        // Paced bytes are due at sub-millisecond times: the wait is given in nanoseconds.
        timespec wait{};
        timespec* timeout = nullptr;
        std::optional<Clock::time_point> next;
        if (writable) {
            next = NextWake();
        }
        if (!inboxDue_.empty() && (!next || inboxDue_.front() < *next)) {
            next = inboxDue_.front();
        }
        if (next) {
            const auto ns = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(*next - now).count());
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &wait;
        }
        pollfd fds[2] = {{lineFd_, static_cast<short>(POLLIN | (writable ? 0 : POLLOUT)), 0},
                         {wakeFds_[0], POLLIN, 0}};
        if (ppoll(fds, 2, timeout, nullptr) < 0) {
            continue;
        }
        if (fds[1].revents & POLLIN) {
            DrainWake();
        }
        now = Clock::now();
        if (fds[0].revents & POLLIN) {
            Receive(now);
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // A served device that went away: do not spin while it is gone.
            poll(&fds[1], 1, 50);
        }
        if (fds[0].revents & POLLOUT) {
            writable = true;
        }
    }
}

void PtyController::DrainWake() {
    char drain[64];
    while (read(wakeFds_[0], drain, sizeof(drain)) > 0) {
    }
}

}  // namespace taktor::sim
