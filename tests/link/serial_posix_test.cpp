// The POSIX serial backend through the channel, against the simulated controller on a
// pseudo-terminal.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "link/controller_link.h"
#include "link/serial_device.h"
#include "tools/simulator/pty_controller.h"

namespace taktor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::PtyController;
using sim::PtyOptions;

const unsigned char kDefaultFrame[18] = {0x3C, 0x00, 0x05, 0x00, 0x3C, 0x00, 0x05, 0x00, 0x3C,
                                         0x00, 0x05, 0x00, 0x3C, 0x00, 0x05, 0x00, 0x04, 0x01};

PtyOptions Behaving(const char* name) {
    PtyOptions options;
    options.behaviour = *sim::ParseBehaviour(name);
    return options;
}

class PosixSerial : public ::testing::Test {
protected:
    ChannelHandle Open(int channel, const std::string& path,
                       const LineSettings& settings = ControllerLineSettings) {
        const Text name = TextFromUtf8(path);
        return link_.OpenChannel(channel, &name, settings);
    }

    // Input shows up a little after the other side wrote it: poll with a deadline.
    std::int32_t WaitForInput(int channel, std::int32_t count) {
        const auto deadline = Clock::now() + 5s;
        std::int32_t available = link_.AvailableInput(channel);
        while (available < count && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
            available = link_.AvailableInput(channel);
        }
        return available;
    }

    std::string ReadString(int channel, std::int32_t count) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        const std::int32_t n = link_.ReadChannel(channel, bytes.data(), count);
        bytes.resize(static_cast<std::size_t>(std::max(n, 0)));
        return bytes;
    }

    static termios LineState(const std::string& path) {
        termios tio{};
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(tcgetattr(fd, &tio), 0);
        close(fd);
        return tio;
    }

    ControllerLink link_;
};

TEST_F(PosixSerial, WritesTheFrameAndReadsTheReply) {
    PtyController controller;
    const ChannelHandle handle = Open(0, controller.SlavePath());
    ASSERT_GE(handle, 1);
    EXPECT_EQ(link_.IsChannelOpen(0), 1);
    EXPECT_EQ(link_.AvailableInput(0), 0);

    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    ASSERT_TRUE(controller.WaitForFrames(1, 5s));
    const sim::ReceivedFrame frame = controller.Frames().at(0);
    EXPECT_TRUE(std::equal(frame.bytes.begin(), frame.bytes.end(), kDefaultFrame));
    EXPECT_TRUE(frame.checksumOk);

    ASSERT_EQ(WaitForInput(0, 4), 4);
    EXPECT_EQ(ReadString(0, 4),
              "on#\r");  // raw: the carriage return is not turned into a line feed
    EXPECT_EQ(link_.AvailableInput(0), 0);
}

TEST_F(PosixSerial, LineIsSetUpAsTheSettingsSay) {
    PtyController controller;
    ASSERT_GE(Open(0, controller.SlavePath()), 1);
    termios tio = LineState(controller.SlavePath());
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | IXOFF), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    link_.CloseChannel(0);

    // A pseudo-terminal forces eight data bits and no parity bit; the rest shows.
    const Text name = TextFromUtf8(controller.SlavePath());
    ASSERT_GE(link_.OpenChannel(0, &name, {19200, 1, 7, 2.0f, 2, 255, 255}), 1);
    tio = LineState(controller.SlavePath());
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & (PARODD | CSTOPB | CRTSCTS),
              static_cast<tcflag_t>(PARODD | CSTOPB | CRTSCTS));
    EXPECT_NE(tio.c_iflag & INPCK, 0u);
    link_.CloseChannel(0);

    const LineSettings mark = {9600, 3, 8, 1.5f, 3, 255, 255};
    ASSERT_GE(Open(0, controller.SlavePath(), mark), 1);
    tio = LineState(controller.SlavePath());
#ifdef CMSPAR
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
#endif
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);  // software handshake leaves RTS/CTS as they were
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    link_.CloseChannel(0);

    // Software handshake, once on, stays as the port has it when the next open asks for none;
    // hardware handshake goes.
    ASSERT_GE(Open(0, controller.SlavePath()), 1);
    tio = LineState(controller.SlavePath());
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(tio.c_cflag & (CRTSCTS | CSTOPB | PARODD), 0u);
}

TEST_F(PosixSerial, UnsupportedSettingsFailTheOpen) {
    PtyController controller;
    const LineSettings oddRate = {12345, 0, 8, 1.0f, 0, 255, 255};
    EXPECT_EQ(Open(0, controller.SlavePath(), oddRate), 0);
    const LineSettings nineBits = {9600, 0, 9, 1.0f, 0, 255, 255};
    EXPECT_EQ(Open(0, controller.SlavePath(), nineBits), 0);
    const LineSettings badParity = {9600, 5, 8, 1.0f, 0, 255, 255};
    EXPECT_EQ(Open(0, controller.SlavePath(), badParity), 0);
    // A failed open let go of the port.
    EXPECT_GE(Open(0, controller.SlavePath()), 1);
}

TEST_F(PosixSerial, ReadWaitsForTheWholeCount) {
    PtyController controller(Behaving("silent"));
    ASSERT_GE(Open(0, controller.SlavePath()), 1);
    auto read = std::async(std::launch::async, [this] { return ReadString(0, 6); });
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    controller.Send("abc");
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    controller.Send("def");
    ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get(), "abcdef");
    char byte = 0;
    EXPECT_EQ(link_.ReadChannel(0, &byte, 0), 0);
}

TEST_F(PosixSerial, HeldPortCannotBeOpenedAgain) {
    PtyController controller;
    ASSERT_GE(Open(0, controller.SlavePath()), 1);
    // Exclusive while held (it keeps out every opener but root, who is kept out by the lock).
    const auto exclusive = [&] {
        int on = -1;
        const int fd = open(controller.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_EQ(ioctl(fd, TIOCGEXCL, &on), 0);
        close(fd);
        return on;
    };
    EXPECT_EQ(exclusive(), 1);
    EXPECT_EQ(Open(1, controller.SlavePath()), 0);
    EXPECT_EQ(link_.IsChannelOpen(1), 0);
    // Replacing the channel with a port that is held fails and keeps the channel as it was.
    EXPECT_EQ(Open(0, controller.SlavePath()), 0);
    ASSERT_EQ(link_.IsChannelOpen(0), 1);
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    EXPECT_EQ(WaitForInput(0, 4), 4);

    link_.CloseChannel(0);
    EXPECT_EQ(exclusive(), 0);
    EXPECT_GE(Open(1, controller.SlavePath()), 1);
}

TEST_F(PosixSerial, NamesAreCutToFiftyNineCharacters) {
    PtyController controller;
    char directory[] = "/tmp/taktor-serial-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    std::string link = std::string(directory) + "/";
    link += std::string(59 - link.size(), 'p');
    ASSERT_EQ(link.size(), 59u);
    ASSERT_EQ(symlink(controller.SlavePath().c_str(), link.c_str()), 0);

    EXPECT_GE(Open(0, link + "-and-more"), 1);
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    EXPECT_TRUE(controller.WaitForFrames(1, 5s));
    link_.CloseChannel(0);
    EXPECT_GE(Open(0, link), 1);
    link_.CloseChannel(0);
    EXPECT_EQ(Open(0, link.substr(0, 58)), 0);

    unlink(link.c_str());
    rmdir(directory);
}

TEST_F(PosixSerial, NamesThatNameNoPort) {
    EXPECT_EQ(link_.OpenChannel(0, nullptr, ControllerLineSettings), 0);
    EXPECT_EQ(Open(0, ""), 0);
    EXPECT_EQ(Open(0, "taktor-no-such-port"), 0);  // looked for under /dev
    EXPECT_EQ(Open(0, "/dev/null"), 0);            // not a terminal
    EXPECT_EQ(link_.IsChannelOpen(0), 0);
}

TEST_F(PosixSerial, WriteGivesUpOnALineThatCannotSend) {
    PtyController controller;
    ASSERT_GE(Open(0, controller.SlavePath()), 1);
    ASSERT_TRUE(controller.SuspendLine());
    const auto start = Clock::now();
    const std::int32_t written = link_.WriteChannel(0, kDefaultFrame, 18);
    const auto elapsed = Clock::now() - start;
    EXPECT_LT(written, 18);
    EXPECT_GE(elapsed, 1700ms);  // 100 ms per byte and 10 ms
    EXPECT_LT(elapsed, 10s);
    std::printf("suspended 18-byte write: %d bytes after %lld ms\n", written,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));

    ASSERT_TRUE(controller.ResumeLine());
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    EXPECT_TRUE(controller.WaitForFrames(1, 5s));
}

// The backend's own contract: a stop ends the operations waiting on it and every later one
// given the same signal, and a read or write that is cut short counts what it did.
TEST(PosixDevice, StopEndsWaitingAndLaterOperations) {
    PtyController controller(Behaving("silent"));
    const std::unique_ptr<SerialDevice> device = OpenSerialDevice(
        TextFromUtf8(controller.SlavePath()), ControllerLineSettings, StopSignal());
    ASSERT_NE(device, nullptr);
    StopSignal readStop;
    char buffer[6];
    auto read = std::async(std::launch::async, [&] { return device->Read(buffer, 6, readStop); });
    controller.Send("abc");
    EXPECT_EQ(read.wait_for(200ms), std::future_status::timeout);
    readStop.Set();
    ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get(), 3);  // what came before the stop
    EXPECT_EQ(std::string(buffer, 3), "abc");
    controller.Send("xy");
    ASSERT_TRUE(controller.WaitForOutput(5s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device->QueuedInput(readStop), 0);
    EXPECT_EQ(device->Write(kDefaultFrame, 18, readStop), 0);

    ASSERT_TRUE(controller.SuspendLine());
    StopSignal writeStop;
    auto write = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        const std::int32_t written = device->Write(kDefaultFrame, 18, writeStop);
        return std::make_pair(written, Clock::now() - start);
    });
    EXPECT_EQ(write.wait_for(100ms), std::future_status::timeout);
    writeStop.Set();
    ASSERT_EQ(write.wait_for(5s), std::future_status::ready);
    EXPECT_LT(write.get().second, 1700ms);  // ended before its time-out
    controller.ResumeLine();

    const StopSignal fresh;  // the next attempt's own signal finds the port as it was
    EXPECT_EQ(device->QueuedInput(fresh), 2);
    EXPECT_EQ(device->Write(kDefaultFrame, 18, fresh), 18);
}

TEST_F(PosixSerial, APulledCableGivesZeros) {
    auto controller = std::make_unique<PtyController>(Behaving("silent"));
    ASSERT_GE(Open(0, controller->SlavePath()), 1);
    auto read = std::async(std::launch::async, [this] {
        char buffer[4];
        return link_.ReadChannel(0, buffer, 4);
    });
    controller->Send("ab");
    ASSERT_TRUE(controller->WaitForOutput(5s));
    EXPECT_EQ(read.wait_for(100ms), std::future_status::timeout);
    controller.reset();  // the other end goes away
    ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get(), 2);  // what came before
    EXPECT_EQ(link_.AvailableInput(0), 0);
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 0);
    EXPECT_EQ(link_.IsChannelOpen(0), 1);  // the channel stays open until closed
}

// One thread writes frames while another polls and reads the replies, as a transfer attempt
// does; ThreadSanitizer runs this too.
TEST_F(PosixSerial, WriterAndReaderOnTwoThreads) {
    PtyController controller(Behaving("split"));
    ASSERT_GE(Open(0, controller.SlavePath()), 1);
    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<bool> stop{false};
        std::string reply;
        std::thread writer([this] { link_.WriteChannel(0, kDefaultFrame, 18); });
        std::thread reader([&] {
            const auto deadline = Clock::now() + 5s;
            char buffer[201];
            while (!stop.load() && Clock::now() < deadline &&
                   reply.find("#\r") == std::string::npos) {
                const std::int32_t available = std::min(link_.AvailableInput(0), 201);
                if (available > 0) {
                    const std::int32_t n = link_.ReadChannel(0, buffer, available);
                    reply.append(buffer, static_cast<std::size_t>(n));
                }
            }
        });
        writer.join();
        reader.join();
        EXPECT_EQ(reply, "on#\r") << "round " << round;
    }
    ASSERT_TRUE(controller.WaitForFrames(kRounds, 5s));
    for (const sim::ReceivedFrame& frame : controller.Frames()) {
        EXPECT_TRUE(frame.checksumOk);
    }
}

}  // namespace
}  // namespace taktor
