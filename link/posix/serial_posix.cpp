// The serial device on POSIX terminals: termios for the line settings, flock for exclusive
// access, non-blocking I/O with poll so that reads and writes can be cancelled and writes time
// out as on Windows.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <string>

#include "link/line_settings.h"
#include "link/posix/termios_config.h"
#include "link/serial_device.h"

namespace taktor {

namespace {

using Clock = std::chrono::steady_clock;

// A pipe whose read end stays readable while the device is cancelled: it sits in the poll set
// of every wait.
class CancelSignal {
public:
    CancelSignal() {
        if (pipe(fds_) != 0) {
            fds_[0] = fds_[1] = -1;
            return;
        }
        for (int fd : fds_) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    ~CancelSignal() {
        for (int fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;

    bool Valid() const { return fds_[0] >= 0; }
    int PollFd() const { return fds_[0]; }
    bool IsSet() const { return set_.load(); }

    // Callers serialise Set and Clear, so the pipe holds one byte exactly while the flag is set.
    void Set() {
        if (!set_.exchange(true)) {
            const char byte = 1;
            while (write(fds_[1], &byte, 1) < 0 && errno == EINTR) {
            }
        }
    }
    void Clear() {
        if (set_.exchange(false)) {
            char byte = 0;
            while (read(fds_[0], &byte, 1) < 0 && errno == EINTR) {
            }
        }
    }

private:
    int fds_[2] = {-1, -1};
    std::atomic<bool> set_{false};
};

class PosixSerialDevice : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {}
    ~PosixSerialDevice() override { close(fd_); }

    bool Ready() const { return cancel_.Valid(); }

    ChannelHandle Handle() const override { return static_cast<ChannelHandle>(fd_) + 1; }

    std::int32_t QueuedInput() override {
        if (cancel_.IsSet()) {
            return 0;
        }
        int count = 0;
        if (ioctl(fd_, FIONREAD, &count) != 0 || count < 0) {
            return 0;
        }
        return count;
    }

    std::int32_t Read(void* buffer, std::int32_t length) override {
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::int32_t done = 0;
        while (done < length) {
            if (cancel_.IsSet()) {
                return 0;
            }
            const ssize_t n = read(fd_, bytes + done, static_cast<std::size_t>(length - done));
            if (n > 0) {
                done += static_cast<std::int32_t>(n);
                continue;
            }
            // With VMIN and VTIME 0 a terminal answers 0 when nothing is there, so only the
            // poll below tells an empty line from one that went away.
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                return 0;  // EIO after a hang-up, or another failure
            }
            pollfd fds[2] = {{fd_, POLLIN, 0}, {cancel_.PollFd(), POLLIN, 0}};
            const int ready = poll(fds, 2, -1);
            if (ready < 0 && errno != EINTR) {
                return 0;
            }
            if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                return 0;
            }
        }
        return done;
    }

    std::int32_t Write(const void* buffer, std::int32_t length) override {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(100 * static_cast<std::int64_t>(length) + 10);
        std::int32_t done = 0;
        while (done < length) {
            if (cancel_.IsSet()) {
                return 0;
            }
            const ssize_t n = write(fd_, bytes + done, static_cast<std::size_t>(length - done));
            if (n > 0) {
                done += static_cast<std::int32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                return 0;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancel_.PollFd(), POLLIN, 0}};
            const int wait = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
            const int ready = poll(fds, 2, wait);
            if (ready < 0 && errno != EINTR) {
                return 0;
            }
            if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                return 0;
            }
        }
        return done;
    }

    void Cancel() override {
        std::lock_guard<std::mutex> guard(signalLock_);
        cancel_.Set();
    }

    void Resume() override {
        std::lock_guard<std::mutex> guard(signalLock_);
        cancel_.Clear();
    }

private:
    int fd_;
    std::mutex signalLock_;
    CancelSignal cancel_;
};

// Raises or lowers RTS when the line is not under hardware handshake. Pseudo-terminals have no
// modem lines and refuse the request, which is not a failure.
bool SetRts(int fd, bool on) {
    int bits = TIOCM_RTS;
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 || errno == ENOTTY || errno == EINVAL;
}

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath,
                                               const LineSettings& settings) {
    const std::string path = PosixDevicePath(devicePath);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto device = std::make_unique<PosixSerialDevice>(fd);
    // The port belongs to one opener at a time, as a Windows port opened without sharing does.
    if (!device->Ready() || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return nullptr;
    }

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return nullptr;
    }
    int modemLines = 0;
    const bool rtsOn = ioctl(fd, TIOCMGET, &modemLines) == 0 && (modemLines & TIOCM_RTS) != 0;
    PortConfig config = ConfigFromTermios(tio, rtsOn);
    ApplyLineSettings(config, settings);
    if (!TermiosFromConfig(config, tio) || tcsetattr(fd, TCSANOW, &tio) != 0) {
        return nullptr;
    }
    if ((config.rtsControl == 0 || config.rtsControl == 1) && !SetRts(fd, config.rtsControl == 1)) {
        return nullptr;
    }
    return device;
}

}  // namespace taktor
