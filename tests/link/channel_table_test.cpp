#include "link/controller_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_device.h"
#include "tests/link/link_test_support.h"

namespace taktor {
namespace {

using namespace std::chrono_literals;

// What the fake devices did, in order: "open <path>", "close <id>", "read <id>", ...
class Journal {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> guard(mutex_);
        entries_.push_back(entry);
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return entries_;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        entries_.clear();
    }
    std::atomic<std::thread::id> closedOn;  // the thread that closed the last device

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// A read that waits until the test lets it go, to hold an operation inside the device.
class Gate {
public:
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    void WaitUntilEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Open() {
        std::lock_guard<std::mutex> guard(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

class JournaledDevice : public SerialDevice {
public:
    JournaledDevice(int id, Journal& journal) : id_(id), journal_(journal) {}
    ~JournaledDevice() override {
        journal_.closedOn = std::this_thread::get_id();
        journal_.Add("close " + std::to_string(id_));
        if (onClose) {
            onClose();
        }
    }
    ChannelHandle Handle() const override { return 100 + id_; }
    std::int32_t QueuedInput(const StopSignal&) override {
        journal_.Add("queued " + std::to_string(id_));
        return queued;
    }
    std::int32_t Read(void*, std::int32_t length, const StopSignal&) override {
        journal_.Add("read " + std::to_string(id_));
        if (gate) {
            gate->Wait();
        }
        return length;
    }
    std::int32_t Write(const void*, std::int32_t length, const StopSignal&) override {
        journal_.Add("write " + std::to_string(id_));
        return length;
    }

    std::int32_t queued = 0;
    Gate* gate = nullptr;
    std::function<void()> onClose;

private:
    int id_;
    Journal& journal_;
};

class ChannelTable : public ::testing::Test {
protected:
    // Ports whose name holds "missing" cannot be opened, nor can the empty name. An open may
    // wait at a gate, or hang until it is stopped.
    std::unique_ptr<SerialDevice> Open(const Text& path, const LineSettings&,
                                       const StopSignal& stop) {
        const std::string name = Utf8FromText(path);
        journal_.Add("open " + name);
        if (Gate* gate = openGate_.load()) {
            gate->Wait();  // a driver that ignores the stop
        } else if (hangUntilStopped_) {
            while (!stop.IsSet()) {
                std::this_thread::sleep_for(1ms);
            }
            return nullptr;
        }
        if (name == "\\\\.\\" || name.find("missing") != std::string::npos) {
            return nullptr;
        }
        auto device = std::make_unique<JournaledDevice>(++opened_, journal_);
        lastDevice_ = device.get();
        return device;
    }

    ChannelHandle OpenPort(int channel, const Text& name) {
        return link_.OpenChannel(channel, &name, ControllerLineSettings);
    }

    Journal journal_;
    int opened_ = 0;
    JournaledDevice* lastDevice_ = nullptr;
    std::atomic<Gate*> openGate_{nullptr};  // an open waits at it
    std::atomic<bool> hangUntilStopped_{false};
    ControllerLink link_{[this](const Text& path, const LineSettings& settings,
                                const StopSignal& stop) { return Open(path, settings, stop); }};
};

using Entries = std::vector<std::string>;

TEST_F(ChannelTable, OpenStoresTheDeviceAndForwardsOperations) {
    EXPECT_EQ(OpenPort(0, u"COM3"), 101);
    EXPECT_EQ(link_.IsChannelOpen(0), 1);
    lastDevice_->queued = 7;
    EXPECT_EQ(link_.AvailableInput(0), 7);
    char buffer[18] = {};
    EXPECT_EQ(link_.ReadChannel(0, buffer, 5), 5);
    EXPECT_EQ(link_.WriteChannel(0, buffer, 18), 18);
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\COM3", "queued 1", "read 1", "write 1"}));
}

TEST_F(ChannelTable, ZeroLengthsAndNegativeQueueCountsTouchNothing) {
    ASSERT_GT(OpenPort(0, u"COM3"), 0);
    journal_.Clear();
    char buffer[4] = {};
    EXPECT_EQ(link_.ReadChannel(0, buffer, 0), 0);
    EXPECT_EQ(link_.ReadChannel(0, buffer, -3), 0);
    EXPECT_EQ(link_.WriteChannel(0, buffer, 0), 0);
    EXPECT_TRUE(journal_.Entries().empty());
    lastDevice_->queued = -1;  // a device must never make a caller read a negative count
    EXPECT_EQ(link_.AvailableInput(0), 0);
}

TEST_F(ChannelTable, NewDeviceIsReadyBeforeTheOldOneCloses) {
    ASSERT_EQ(OpenPort(0, u"COM3"), 101);
    EXPECT_EQ(OpenPort(0, u"COM4"), 102);
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\COM3", "open \\\\.\\COM4", "close 1"}));
    char byte = 0;
    EXPECT_EQ(link_.WriteChannel(0, &byte, 1), 1);
    EXPECT_EQ(journal_.Entries().back(), "write 2");
}

TEST_F(ChannelTable, FailedOpenLeavesTheTableAsItWas) {
    ASSERT_GT(OpenPort(0, u"COM3"), 0);
    EXPECT_EQ(OpenPort(0, u"missing"), 0);
    EXPECT_EQ(OpenPort(3, u"missing"), 0);
    EXPECT_EQ(link_.IsChannelOpen(0), 1);
    EXPECT_EQ(link_.IsChannelOpen(3), 0);
    char byte = 0;
    EXPECT_EQ(link_.WriteChannel(0, &byte, 1), 1);
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\COM3", "open \\\\.\\missing",
                                           "open \\\\.\\missing", "write 1"}));
}

TEST_F(ChannelTable, AbsentAndEmptyNames) {
    EXPECT_EQ(link_.OpenChannel(0, nullptr, ControllerLineSettings), 0);
    EXPECT_TRUE(journal_.Entries().empty());  // not even tried
    EXPECT_EQ(OpenPort(0, u""), 0);
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\"}));
    EXPECT_EQ(link_.IsChannelOpen(0), 0);
}

TEST_F(ChannelTable, OperationsOnChannelsNotOpen) {
    ASSERT_GT(OpenPort(2, u"COM3"), 0);
    journal_.Clear();
    char buffer[4] = {};
    for (int channel : {0, 1, 3, 1000, -1}) {
        EXPECT_EQ(link_.IsChannelOpen(channel), 0) << channel;
        EXPECT_EQ(link_.AvailableInput(channel), 0) << channel;
        EXPECT_EQ(link_.ReadChannel(channel, buffer, 4), 0) << channel;
        EXPECT_EQ(link_.WriteChannel(channel, buffer, 4), 0) << channel;
        link_.CloseChannel(channel);
    }
    EXPECT_TRUE(journal_.Entries().empty());
    EXPECT_EQ(OpenPort(-1, u"COM3"), 0);
}

TEST_F(ChannelTable, ClosingTwiceClosesOnce) {
    ASSERT_GT(OpenPort(0, u"COM3"), 0);
    link_.CloseChannel(0);
    link_.CloseChannel(0);
    EXPECT_EQ(link_.IsChannelOpen(0), 0);
    char byte = 0;
    EXPECT_EQ(link_.WriteChannel(0, &byte, 1), 0);
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\COM3", "close 1"}));
    EXPECT_GT(OpenPort(0, u"COM3"), 0);  // the emptied entry takes a new device
}

TEST_F(ChannelTable, CloseAllVisitsTheTableInOrderAndClosesOutsideTheLock) {
    ASSERT_GT(OpenPort(5, u"COM5"), 0);
    ASSERT_GT(OpenPort(0, u"COM0"), 0);
    ASSERT_GT(OpenPort(2, u"COM2"), 0);
    // A device that asks the table something while being closed finds it free; it closes on
    // another thread than the caller's.
    std::vector<int> seen;
    lastDevice_->onClose = [&seen, this] {
        seen.push_back(link_.IsChannelOpen(0));
        seen.push_back(link_.IsChannelOpen(2));
        seen.push_back(link_.IsChannelOpen(5));
    };
    journal_.Clear();
    link_.CloseAllChannels();
    EXPECT_EQ(journal_.Entries(), (Entries{"close 2", "close 3", "close 1"}));
    EXPECT_EQ(seen, (std::vector<int>{0, 0, 1}));
    EXPECT_NE(journal_.closedOn.load(), std::this_thread::get_id());
    for (int channel : {0, 2, 5}) {
        EXPECT_EQ(link_.IsChannelOpen(channel), 0);
    }
    EXPECT_GT(OpenPort(2, u"COM2"), 0);
}

TEST_F(ChannelTable, ClosingUnderAnOperationWaitsForItToReturn) {
    ASSERT_GT(OpenPort(0, u"COM3"), 0);
    Gate gate;
    lastDevice_->gate = &gate;
    auto read = std::async(std::launch::async, [this] {
        char buffer[4];
        return link_.ReadChannel(0, buffer, 4);
    });
    gate.WaitUntilEntered();
    link_.CloseChannel(0);
    EXPECT_EQ(link_.IsChannelOpen(0), 0);
    EXPECT_GT(OpenPort(0, u"COM4"), 0);  // the table is not held up by the read
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\COM3", "read 1", "open \\\\.\\COM4"}));
    gate.Open();
    EXPECT_EQ(read.get(), 4);
    EXPECT_EQ(journal_.Entries().back(), "close 1");
}

TEST_F(ChannelTable, OpenThatHangsIsCancelledOrLeftHoldingItsPort) {
    // An open that the stop ends fails, and leaves nothing behind.
    hangUntilStopped_ = true;
    EXPECT_EQ(OpenPort(0, u"COM3"), 0);
    hangUntilStopped_ = false;
    EXPECT_EQ(OpenPort(0, u"COM3"), 101);
    link_.CloseChannel(0);

    // One that ignores it fails too; its port counts as held, and is not opened again, until
    // the open returns. Its device is then closed on the thread that opened it.
    Gate gate;
    openGate_ = &gate;
    journal_.Clear();
    EXPECT_EQ(OpenPort(0, u"COM3"), 0);
    openGate_ = nullptr;
    EXPECT_EQ(OpenPort(1, u"COM3"), 0);
    EXPECT_EQ(journal_.Entries(), (Entries{"open \\\\.\\COM3"}));
    EXPECT_EQ(OpenPort(2, u"COM4"), 102);  // other ports are not held up
    gate.Open();
    ASSERT_TRUE(Eventually([this] { return journal_.Entries().back() == "close 3"; }));
    EXPECT_NE(journal_.closedOn.load(), std::this_thread::get_id());
    EXPECT_TRUE(Eventually([this] { return OpenPort(0, u"COM3") > 0; }));  // let go just after
}

TEST(DevicePath, PrefixAndFiftyNineCharacters) {
    EXPECT_EQ(DevicePath(u"COM3"), u"\\\\.\\COM3");
    EXPECT_EQ(DevicePath(u""), u"\\\\.\\");
    const Text exact(59, u'x');
    EXPECT_EQ(DevicePath(exact), u"\\\\.\\" + exact);
    EXPECT_EQ(DevicePath(exact + u"yz"), u"\\\\.\\" + exact);
    EXPECT_EQ(DevicePath(exact + u"y").size(), 63u);
    EXPECT_EQ(DevicePath(u"Порт"), u"\\\\.\\Порт");
}

}  // namespace
}  // namespace taktor
