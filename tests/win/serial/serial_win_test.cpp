// The Windows serial backend through the channel, against the simulated controller on COM7 (run
// through tests/win/with-simulator.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "link/controller_link.h"
#include "tests/win/win_files.h"

namespace taktor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace wintest;

const unsigned char kDefaultFrame[18] = {0x3C, 0x00, 0x05, 0x00, 0x3C, 0x00, 0x05, 0x00, 0x3C,
                                         0x00, 0x05, 0x00, 0x3C, 0x00, 0x05, 0x00, 0x04, 0x01};
const char kDefaultFrameLine[] =
    "frame=3C 00 05 00 3C 00 05 00 3C 00 05 00 3C 00 05 00 04 01 "
    "durations=60,5,60,5,60,5,60,5 checksum=ok";
const Text kPort = u"COM7";

class WinSerial : public ::testing::Test {
protected:
    void SetUp() override {
        if (!simulator_.Find()) {
            GTEST_SKIP() << "run through tests/win/with-simulator.sh COM7 -- wine-run.sh <test>";
        }
        ASSERT_TRUE(SetBehaviour("confirm"));
        handle_ = link_.OpenChannel(0, &kPort, ControllerLineSettings);
        ASSERT_GE(handle_, 1);
    }
    void TearDown() override {
        link_.CloseAllChannels();
        if (simulator_.Found()) {
            SetBehaviour("confirm");
        }
    }

    std::int32_t WaitForInput(std::int32_t count) {
        const auto deadline = Clock::now() + 5s;
        std::int32_t available = link_.AvailableInput(0);
        while (available < count && Clock::now() < deadline) {
            Sleep(1);
            available = link_.AvailableInput(0);
        }
        return available;
    }

    std::string ReadString(std::int32_t count) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        const std::int32_t n = link_.ReadChannel(0, &bytes[0], count);
        bytes.resize(static_cast<std::size_t>(n > 0 ? n : 0));
        return bytes;
    }

    bool SetBehaviour(const std::string& name) const { return simulator_.SetBehaviour(name); }

    std::size_t LoggedFrames(const std::string& line) const {
        return CountOccurrences(simulator_.Log(), line);
    }

    bool WaitForLoggedFrames(const std::string& line, std::size_t count) const {
        const auto deadline = Clock::now() + 5s;
        while (LoggedFrames(line) < count) {
            if (Clock::now() > deadline) {
                return false;
            }
            Sleep(10);
        }
        return true;
    }

    SimulatorFiles simulator_;
    ControllerLink link_;
    ChannelHandle handle_ = 0;
};

TEST_F(WinSerial, PortIsConfiguredAsTheSettingsSay) {
    const HANDLE port = reinterpret_cast<HANDLE>(handle_);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    // No hardware handshake. Whether RTS reads back as held off depends on the device: Wine on a
    // pseudo-terminal, which has no modem lines, reports RTS on whatever was set.
    EXPECT_NE(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    std::printf("DCB read back: fParity=%u fRtsControl=%u fDtrControl=%u\n",
                static_cast<unsigned>(dcb.fParity), static_cast<unsigned>(dcb.fRtsControl),
                static_cast<unsigned>(dcb.fDtrControl));

    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10u);
}

TEST_F(WinSerial, WritesTheFrameAndReadsTheReply) {
    const std::size_t before = LoggedFrames(kDefaultFrameLine);
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    EXPECT_TRUE(WaitForLoggedFrames(kDefaultFrameLine, before + 1));
    ASSERT_EQ(WaitForInput(4), 4);
    EXPECT_EQ(ReadString(4), "on#\r");
    EXPECT_EQ(link_.AvailableInput(0), 0);
}

TEST_F(WinSerial, PortsThatDoNotExist) {
    const Text missing = u"COM9";
    EXPECT_EQ(link_.OpenChannel(1, &missing, ControllerLineSettings), 0);
    const Text empty;
    EXPECT_EQ(link_.OpenChannel(1, &empty, ControllerLineSettings), 0);
    EXPECT_EQ(link_.OpenChannel(1, nullptr, ControllerLineSettings), 0);
    EXPECT_EQ(link_.IsChannelOpen(1), 0);
    EXPECT_EQ(link_.IsChannelOpen(0), 1);
}

// A port that this or another program holds, or whose device is gone (a link to nothing, or the
// line of a pulled cable): the open fails and the channel stays as it was. Once the cable is
// plugged in again, the port opens.
TEST_F(WinSerial, HeldOrVanishedPortLeavesTheChannelAsItWas) {
    for (const Text& port : {kPort, Text(u"COM10"), Text(u"COM11")}) {  // kPort: held by us
        EXPECT_EQ(link_.OpenChannel(0, &port, ControllerLineSettings), 0) << Utf8FromText(port);
        EXPECT_EQ(link_.IsChannelOpen(0), 1);
    }
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);  // still the same port, working
    ASSERT_EQ(WaitForInput(4), 4);
    EXPECT_EQ(ReadString(4), "on#\r");

    ASSERT_TRUE(SetBehaviour("hangup"));
    EXPECT_EQ(link_.OpenChannel(0, &kPort, ControllerLineSettings), 0);
    EXPECT_EQ(link_.IsChannelOpen(0), 1);
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 0);  // the old line is dead
    EXPECT_EQ(link_.AvailableInput(0), 0);

    ASSERT_TRUE(SetBehaviour("plug confirm"));
    link_.CloseChannel(0);
    EXPECT_GE(link_.OpenChannel(0, &kPort, ControllerLineSettings), 1);
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    ASSERT_EQ(WaitForInput(4), 4);
    EXPECT_EQ(ReadString(4), "on#\r");
}

TEST_F(WinSerial, ReadWaitsForTheWholeCount) {
    ASSERT_TRUE(SetBehaviour("split"));
    EXPECT_EQ(link_.WriteChannel(0, kDefaultFrame, 18), 18);
    // The carriage return comes in a second write, some milliseconds after "on#".
    EXPECT_EQ(ReadString(4), "on#\r");
}

// The backend's own contract: a stop ends the operation waiting on it, and every later one
// given the same signal, also a status query; the next attempt's own signal finds the port
// working.
TEST_F(WinSerial, StopEndsABlockedReadAndLaterOperations) {
    ASSERT_TRUE(SetBehaviour("silent"));
    const Text path = DevicePath(kPort);
    link_.CloseChannel(0);
    const std::unique_ptr<SerialDevice> device =
        OpenSerialDevice(path, ControllerLineSettings, StopSignal());
    ASSERT_NE(device, nullptr);
    StopSignal stop;
    auto read = std::async(std::launch::async, [&] {
        char buffer[4];
        return device->Read(buffer, 4, stop);
    });
    EXPECT_EQ(read.wait_for(200ms), std::future_status::timeout);
    stop.Set();
    ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get(), 0);
    EXPECT_EQ(device->QueuedInput(stop), 0);
    EXPECT_EQ(device->Write(kDefaultFrame, 18, stop), 0);

    ASSERT_TRUE(SetBehaviour("confirm"));
    const StopSignal fresh;
    EXPECT_EQ(device->Write(kDefaultFrame, 18, fresh), 18);
    char reply[4];
    EXPECT_EQ(device->Read(reply, 4, fresh), 4);
    EXPECT_EQ(std::string(reply, 4), "on#\r");
}

TEST_F(WinSerial, WriteGivesUpOnALineThatCannotSend) {
    ASSERT_TRUE(SetBehaviour("suspend"));
    const auto start = Clock::now();
    const std::int32_t written = link_.WriteChannel(0, kDefaultFrame, 18);
    const auto elapsed = Clock::now() - start;
    EXPECT_LT(written, 18);
    EXPECT_GE(elapsed, 1700ms);
    EXPECT_LT(elapsed, 10s);
    std::printf("suspended 18-byte write: %d bytes after %lld ms\n", static_cast<int>(written),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

TEST_F(WinSerial, StopEndsABlockedWrite) {
    ASSERT_TRUE(SetBehaviour("suspend"));
    link_.CloseChannel(0);
    const std::unique_ptr<SerialDevice> device =
        OpenSerialDevice(DevicePath(kPort), ControllerLineSettings, StopSignal());
    ASSERT_NE(device, nullptr);
    StopSignal stop;
    auto write = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        const std::int32_t written = device->Write(kDefaultFrame, 18, stop);
        return std::make_pair(written, Clock::now() - start);
    });
    EXPECT_EQ(write.wait_for(200ms), std::future_status::timeout);
    stop.Set();
    ASSERT_EQ(write.wait_for(5s), std::future_status::ready);
    EXPECT_LT(write.get().second, 1700ms);
}

// One thread writes while another polls and reads, as a transfer attempt does.
TEST_F(WinSerial, WriterAndReaderOnTwoThreads) {
    ASSERT_TRUE(SetBehaviour("split"));
    const std::size_t before = LoggedFrames(kDefaultFrameLine);
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        std::string reply;
        std::thread writer([this] { link_.WriteChannel(0, kDefaultFrame, 18); });
        std::thread reader([this, &reply] {
            const auto deadline = Clock::now() + 5s;
            char buffer[201];
            while (Clock::now() < deadline && reply.find("#\r") == std::string::npos) {
                const std::int32_t available = link_.AvailableInput(0);
                if (available > 0) {
                    const std::int32_t n =
                        link_.ReadChannel(0, buffer, available < 201 ? available : 201);
                    reply.append(buffer, static_cast<std::size_t>(n));
                }
            }
        });
        writer.join();
        reader.join();
        EXPECT_EQ(reply, "on#\r") << "round " << round;
    }
    EXPECT_TRUE(WaitForLoggedFrames(kDefaultFrameLine, before + kRounds));
}

}  // namespace
}  // namespace taktor
