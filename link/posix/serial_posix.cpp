// The serial device on POSIX terminals: termios for the line settings, an exclusive open and
// flock for exclusive access, non-blocking I/O with poll so that reads and writes end when their
// attempt is stopped and writes time out as on Windows.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "link/serial_channel.h"
#include "link/posix/termios_config.h"
#include "link/serial_device.h"
#include "link/write_timing.h"

namespace taktor {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until fd is ready for events, the stop signal is set or the time-out (ms, -1: none)
// runs out. False when the wait failed, the line went away or the stop came.
bool WaitReady(int fd, short events, const StopSignal& stop, int timeout) {
    pollfd fds[2] = {{fd, events, 0}, {static_cast<int>(stop.WaitHandle()), POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
        return errno == EINTR;
    }
    return (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) == 0 && !stop.IsSet();
}

class PosixSerialDevice : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {}
    ~PosixSerialDevice() override {
        ioctl(fd_, TIOCNXCL);  // the exclusive mode outlives the descriptor otherwise
        close(fd_);
    }

    ChannelHandle Handle() const override { return static_cast<ChannelHandle>(fd_) + 1; }

    std::int32_t QueuedInput(const StopSignal& stop) override {
        int count = 0;
        if (stop.IsSet() || ioctl(fd_, FIONREAD, &count) != 0 || count < 0) {
            return 0;
        }
        return count;
    }

    std::int32_t Read(void* buffer, std::int32_t length, const StopSignal& stop) override {
        return Transfer(length, POLLIN, -1, stop, [&](std::int32_t done) {
            return read(fd_, static_cast<char*>(buffer) + done,
                        static_cast<std::size_t>(length - done));
        });
    }

    std::int32_t Write(const void* buffer, std::int32_t length, const StopSignal& stop) override {
        const auto limit = length * kWriteTimeoutPerByte + kWriteTimeoutExtra;
        return Transfer(length, POLLOUT, static_cast<int>(limit.count()), stop,
                        [&](std::int32_t done) {
                            return write(fd_, static_cast<const char*>(buffer) + done,
                                         static_cast<std::size_t>(length - done));
                        });
    }

private:
    // Moves length bytes with move(done), waiting for the line between calls, within limitMs in
    // all (-1: no limit). A terminal with VMIN and VTIME 0 answers a read with 0 when nothing is
    // there, so only the poll tells an empty line from one that went away (EIO after a hang-up).
    // The count moved, also when the line failed or the stop came.
    template <typename Move>
    std::int32_t Transfer(std::int32_t length, short events, int limitMs, const StopSignal& stop,
                          Move move) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        std::int32_t done = 0;
        while (done < length && !stop.IsSet()) {
            const ssize_t n = move(done);
            if (n > 0) {
                done += static_cast<std::int32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) || (limitMs >= 0 && left <= 0) ||
                !WaitReady(fd_, events, stop, limitMs < 0 ? -1 : static_cast<int>(left))) {
                break;
            }
        }
        return done;
    }

    int fd_;
};

// Raises or lowers RTS when the line is not under hardware handshake. Pseudo-terminals have no
// modem lines and refuse the request, which is not a failure.
bool SetRts(int fd, bool on) {
    int bits = TIOCM_RTS;
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 || errno == ENOTTY || errno == EINVAL;
}

}  // namespace

// Nothing here blocks: the open is non-blocking and the settings apply at once.
std::unique_ptr<SerialDevice> OpenSerialDevice(const Text& devicePath, const LineSettings& settings,
                                               const StopSignal&) {
    const std::string path = PosixDevicePath(devicePath);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    // The port belongs to one opener at a time, as a Windows port opened without sharing does:
    // flock keeps out every other opener that locks, root included; the exclusive mode every
    // other opener but root, locking or not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return nullptr;
    }
    auto device = std::make_unique<PosixSerialDevice>(fd);

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
    if ((config.fRtsControl == 0 || config.fRtsControl == 1) &&
        !SetRts(fd, config.fRtsControl == 1)) {
        return nullptr;
    }
    return device;
}

}  // namespace taktor
